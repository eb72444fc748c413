#include "editor_session.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace halvard::testing {

std::string editorExecutable() {
    const char* installed = std::getenv("HALVARD_TEST_EDITOR");
    return installed && *installed ? installed : HALVARD_EDITOR;
}

EditorProcess::EditorProcess(const std::string& executable, const std::vector<std::string>& extraEnv) {
    // The extra entries replace inherited ones of the same name (getenv finds the first).
    const auto named = [&](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const std::string& extra : extraEnv)
            if (extra.compare(0, name.size(), name) == 0) return true;
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!named(*e)) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = executable;
    char* argv[] = {program.data(), nullptr};
    if (posix_spawn(&pid_, executable.c_str(), nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
}

EditorProcess::~EditorProcess() {
    if (pid_ > 0 && !exitCode_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> EditorProcess::waitForExit(Millis timeout) {
    if (pid_ <= 0 || exitCode_) return exitCode_;
    waitUntil(
        [&] {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        timeout, Millis(5));
    return exitCode_;
}

long EditorProcess::peakResidentKb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

namespace {
// Reading a window that is not mapped yet raises BadMatch; the tests poll, so errors are expected.
int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

std::string windowTitle(Display* d, Window w) {
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, netName, 0, 256, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
    }
    if (data) XFree(data);
    return title;
}
}  // namespace

XSession::XSession() {
    XSetErrorHandler(ignoreXErrors);
    // A display that has just started may turn the first connections away; try for a while.
    waitUntil([&] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }, Millis(5000), Millis(20));
}

XSession::~XSession() {
    if (display_) XCloseDisplay(display_);
}

unsigned long XSession::findWindow(const std::string& title, Millis timeout) {
    if (!display_) return 0;
    Window found = 0;
    waitUntil(
        [&] {
            Window root, parent;
            Window* children = nullptr;
            unsigned int n = 0;
            if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &n))
                return false;
            for (unsigned int i = 0; i < n && !found; ++i) {
                XWindowAttributes a;
                if (windowTitle(display_, children[i]) == title &&
                    XGetWindowAttributes(display_, children[i], &a) && a.map_state == IsViewable) {
                    found = children[i];
                }
            }
            if (children) XFree(children);
            return found != 0;
        },
        timeout, Millis(5));
    return found;
}

std::pair<int, int> XSession::windowSize(unsigned long window) {
    XWindowAttributes a;
    if (!display_ || !XGetWindowAttributes(display_, window, &a)) return {0, 0};
    return {a.width, a.height};
}

std::optional<uint32_t> XSession::pixel(unsigned long window, int x, int y) {
    if (!display_) return std::nullopt;
    XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return std::nullopt;
    const auto value = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return value;
}

std::string XSession::windowClassName(unsigned long window) {
    XClassHint hint{};
    if (!display_ || !XGetClassHint(display_, window, &hint)) return {};
    std::string name = hint.res_name ? hint.res_name : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return name;
}

int XSession::largestIconWidth(unsigned long window) {
    if (!display_) return 0;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    int largest = 0;
    // Width, height, then width x height pixels, for each picture; 32-bit items arrive as longs.
    if (XGetWindowProperty(display_, window, XInternAtom(display_, "_NET_WM_ICON", False), 0, 1 << 22, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i + 2 <= count;) {
            const unsigned long w = items[i], h = items[i + 1];
            if (w == 0 || h == 0 || w * h > count - i - 2) break;
            largest = std::max(largest, static_cast<int>(w));
            i += 2 + w * h;
        }
    }
    if (data) XFree(data);
    return largest;
}

void XSession::exposeWindow(unsigned long window) {
    if (!display_) return;
    XClearArea(display_, window, 0, 0, 0, 0, True);
    XFlush(display_);
}

void XSession::sendCloseRequest(unsigned long window) {
    if (!display_) return;
    XEvent e;
    std::memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &e);
    XFlush(display_);
}

namespace {

// file:// with every byte but the unreserved ones and '/' percent-encoded.
std::string fileUri(const std::string& path) {
    std::string uri = "file://";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

}  // namespace

bool XSession::dropFiles(unsigned long window, int x, int y, const std::vector<std::string>& paths,
                         Millis timeout) {
    if (!display_) return false;
    Display* d = display_;
    const auto atom = [d](const char* name) { return XInternAtom(d, name, False); };
    const Atom uriList = atom("text/uri-list"), selection = atom("XdndSelection");
    const Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, selection, source, CurrentTime);
    Window child = 0;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), x, y, &rootX, &rootY, &child);
    const auto send = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent e;
        std::memset(&e, 0, sizeof e);
        e.xclient.type = ClientMessage;
        e.xclient.window = window;
        e.xclient.message_type = atom(type);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(source);
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(d, window, False, NoEventMask, &e);
        XFlush(d);
    };
    std::string list;
    for (const std::string& path : paths) list += fileUri(path) + "\r\n";
    // Answers the target's request for the data; true once the target's message of `type` came.
    const auto awaitMessage = [&](const char* type, long* accepted) {
        const Atom wanted = atom(type);
        return waitUntil(
            [&] {
                while (XPending(d) > 0) {
                    XEvent e;
                    XNextEvent(d, &e);
                    if (e.type == SelectionRequest) {
                        const XSelectionRequestEvent& r = e.xselectionrequest;
                        XEvent n;
                        std::memset(&n, 0, sizeof n);
                        n.xselection.type = SelectionNotify;
                        n.xselection.requestor = r.requestor;
                        n.xselection.selection = r.selection;
                        n.xselection.target = r.target;
                        n.xselection.time = r.time;
                        n.xselection.property = None;
                        if (r.target == uriList) {
                            XChangeProperty(d, r.requestor, r.property, uriList, 8, PropModeReplace,
                                            reinterpret_cast<const unsigned char*>(list.data()),
                                            static_cast<int>(list.size()));
                            n.xselection.property = r.property;
                        }
                        XSendEvent(d, r.requestor, False, NoEventMask, &n);
                        XFlush(d);
                    } else if (e.type == ClientMessage && e.xclient.message_type == wanted) {
                        if (accepted) *accepted = e.xclient.data.l[1] & 1;
                        return true;
                    }
                }
                return false;
            },
            timeout);
    };
    send("XdndEnter", 5L << 24, static_cast<long>(uriList), 0, 0);
    send("XdndPosition", 0, (static_cast<long>(rootX) << 16) | rootY, CurrentTime,
         static_cast<long>(atom("XdndActionCopy")));
    long accepted = 0;
    bool done = awaitMessage("XdndStatus", &accepted) && accepted != 0;
    if (done) {
        send("XdndDrop", 0, CurrentTime, 0, 0);
        done = awaitMessage("XdndFinished", nullptr);
    } else {
        send("XdndLeave", 0, 0, 0, 0);
    }
    XDestroyWindow(d, source);
    XFlush(d);
    return done;
}

bool showsConnectedPanel(XSession& x, unsigned long window) {
    return waitUntil([&] { return x.pixel(window, 125, 400) == kUnveiledPanel; }, Millis(30000), Millis(20));
}

bool xdotool(const std::string& args) {
    return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace halvard::testing
