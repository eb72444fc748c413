// Reads the running editor's window as a Windows screen reader does, through MSAA from another
// process: AccessibleObjectFromWindow on the client area, its children with AccessibleChildren.
// Commands on standard input, one a line:
//   list        a line per child: "control id=<child id> role=<role> state=<hex> name=<name>
//               description=<text> value=<text>", then "end"
//   do NAME     accDoDefaultAction on the child named NAME: "done <HRESULT in hex>"
//   status      the panel's own description, the status line: "status <text>"
// Exits 1 when the editor's window or its accessible cannot be had ("error ..." says which).
#include <oleacc.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string utf8(BSTR text) {
    if (!text) return {};
    const int length = static_cast<int>(SysStringLen(text));
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    SysFreeString(text);
    return out;
}

VARIANT childId(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::vector<long> children(IAccessible* panel) {
    long count = 0;
    panel->get_accChildCount(&count);
    std::vector<VARIANT> found(static_cast<size_t>(count));
    long got = 0;
    std::vector<long> ids;
    if (count > 0 && SUCCEEDED(AccessibleChildren(panel, 0, count, found.data(), &got))) {
        for (long i = 0; i < got; ++i) {
            if (found[static_cast<size_t>(i)].vt == VT_I4) ids.push_back(found[static_cast<size_t>(i)].lVal);
            VariantClear(&found[static_cast<size_t>(i)]);
        }
    }
    return ids;
}

std::string nameOf(IAccessible* panel, long id) {
    BSTR name = nullptr;
    panel->get_accName(childId(id), &name);
    return utf8(name);
}

void list(IAccessible* panel) {
    for (const long id : children(panel)) {
        VARIANT role, state;
        VariantInit(&role);
        VariantInit(&state);
        BSTR description = nullptr, value = nullptr;
        panel->get_accRole(childId(id), &role);
        panel->get_accState(childId(id), &state);
        panel->get_accDescription(childId(id), &description);
        panel->get_accValue(childId(id), &value);
        std::printf("control id=%ld role=%ld state=%lx name=%s description=%s value=%s\n", id,
                    role.vt == VT_I4 ? role.lVal : -1L,
                    state.vt == VT_I4 ? static_cast<unsigned long>(state.lVal) : 0UL,
                    nameOf(panel, id).c_str(), utf8(description).c_str(), utf8(value).c_str());
    }
    std::printf("end\n");
}

}  // namespace

int main() {
    using namespace std::chrono_literals;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i) {
        window = FindWindowW(L"Halvard Editor", nullptr);
        if (!window) std::this_thread::sleep_for(20ms);
    }
    if (!window) {
        std::printf("error no editor window\n");
        return 1;
    }
    IAccessible* panel = nullptr;
    const HRESULT hr = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                                  __uuidof(IAccessible), reinterpret_cast<void**>(&panel));
    if (FAILED(hr) || !panel) {
        std::printf("error AccessibleObjectFromWindow %lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "list") {
            list(panel);
        } else if (line.rfind("do ", 0) == 0) {
            HRESULT done = DISP_E_MEMBERNOTFOUND;
            for (const long id : children(panel))
                if (nameOf(panel, id) == line.substr(3)) done = panel->accDoDefaultAction(childId(id));
            std::printf("done %lx\n", static_cast<unsigned long>(done));
        } else if (line == "status") {
            BSTR description = nullptr;
            panel->get_accDescription(childId(CHILDID_SELF), &description);
            std::printf("status %s\n", utf8(description).c_str());
        } else if (line == "quit") {
            break;
        }
        std::fflush(stdout);
    }
    panel->Release();
    CoUninitialize();
    return 0;
}
