#include "app/win32/panel_accessible.hpp"

#include <cwchar>
#include <string>
#include <string_view>

#include "ui/platform_state.hpp"
#include "ui/ui.hpp"

// Interface ids are written __uuidof(...): the IID_ symbols of these interfaces are defined both in
// MinGW's libuuid and in its liboleacc, and a program linking both would get two.

namespace halvard {

namespace {

constexpr long childIdOf(ControlId id) {
    return toInt(id) + 1;
}

BSTR bstrFromUtf8(std::string_view text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (out && n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

// A text answer: S_FALSE with no string when there is none.
HRESULT answerText(std::string_view text, BSTR* out) {
    if (text.empty()) return S_FALSE;
    *out = bstrFromUtf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

void setChildId(VARIANT* v, long id) {
    v->vt = VT_I4;
    v->lVal = id;
}

// Toggles are check boxes, which every reader announces with their state ("checked", "not checked").
long msaaRole(ControlRole role) {
    switch (role) {
        case ControlRole::ToggleButton:
            return ROLE_SYSTEM_CHECKBUTTON;
        case ControlRole::PushButton:
            return ROLE_SYSTEM_PUSHBUTTON;
        case ControlRole::RadioButton:
            return ROLE_SYSTEM_RADIOBUTTON;
        case ControlRole::ListItem:
            return ROLE_SYSTEM_LISTITEM;
        case ControlRole::SpinButton:
            return ROLE_SYSTEM_SPINBUTTON;
    }
    return ROLE_SYSTEM_CLIENT;
}

// What accDoDefaultAction does, in the words Windows' own controls use; empty: nothing.
std::string_view defaultAction(const PanelControl& c) {
    switch (c.role) {
        case ControlRole::ToggleButton:
            return c.checked ? "Uncheck" : "Check";
        case ControlRole::PushButton:
            return "Press";
        case ControlRole::RadioButton:
            return "Check";
        case ControlRole::ListItem:
            return "Select";
        case ControlRole::SpinButton:
            break;
    }
    return {};
}

}  // namespace

// The children's ids, for readers that enumerate them (AccessibleChildren). A reader in another
// process keeps the first enumerator it was given for as long as it holds the panel (COM's
// marshaller keeps one pointer per interface of an object), so the ids are taken from the panel
// at each Reset, which AccessibleChildren calls first, and at first use. Its identity (IUnknown)
// and its other interfaces are the panel's.
class PanelAccessible::ChildEnumerator final : public IEnumVARIANT {
public:
    explicit ChildEnumerator(PanelAccessible& owner) : owner_(owner) { owner_.AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid != __uuidof(IEnumVARIANT)) return owner_.QueryInterface(riid, object);
        *object = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!out) return E_POINTER;
        if (const HRESULT hr = take(false); FAILED(hr)) return hr;
        ULONG n = 0;
        for (; n < count && at_ < ids_.size(); ++n, ++at_) setChildId(&out[n], ids_[at_]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (const HRESULT hr = take(false); FAILED(hr)) return hr;
        const ULONG left = static_cast<ULONG>(ids_.size()) - at_;
        at_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return take(true); }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        if (!copy) return E_POINTER;
        *copy = new ChildEnumerator(*this);
        return S_OK;
    }

private:
    ChildEnumerator(const ChildEnumerator& from)
        : owner_(from.owner_), ids_(from.ids_), at_(from.at_), taken_(from.taken_) {
        owner_.AddRef();
    }
    ~ChildEnumerator() { owner_.Release(); }

    // The ids of the controls shown now, from the start: always when again, else on first use.
    HRESULT take(bool again) {
        if (!owner_.window_) return CO_E_OBJNOTCONNECTED;
        if (taken_ && !again) return S_OK;
        ids_.clear();
        for (const PanelControl& c : owner_.controls()) ids_.push_back(childIdOf(c.id));
        at_ = 0;
        taken_ = true;
        return S_OK;
    }

    PanelAccessible& owner_;  // a reference held
    LONG references_ = 1;
    std::vector<long> ids_;
    ULONG at_ = 0;
    bool taken_ = false;
};

PanelAccessible::PanelAccessible(HWND window, const PlatformState& platform)
    : window_(window), platform_(&platform) {}

void PanelAccessible::attach(Ui* ui) {
    ui_ = ui;
    controlsChanged();
}

void PanelAccessible::disconnect() {
    window_ = nullptr;
    platform_ = nullptr;
    ui_ = nullptr;
    told_.clear();
}

std::span<const PanelControl> PanelAccessible::controls() const {
    return window_ ? readableControls(ui_) : std::span<const PanelControl>{};
}

bool PanelAccessible::hasFocus() const {
    return window_ && GetFocus() == window_;
}

void PanelAccessible::controlsChanged() {
    if (!window_) return;
    const auto notify = [this](DWORD event, long child) {
        NotifyWinEvent(event, window_, OBJID_CLIENT, child);
    };
    std::vector<ControlSnapshot> now;
    bool reordered = false;
    for (const PanelControl& c : controls()) now.emplace_back(c);
    for (const ControlSnapshot& before : told_) {
        bool shown = false;
        for (const ControlSnapshot& after : now) shown = shown || after.id == before.id;
        reordered = reordered || !shown;
    }
    for (size_t i = 0; i < now.size(); ++i) {
        const ControlSnapshot& after = now[i];
        const ControlSnapshot* before = nullptr;
        for (const ControlSnapshot& b : told_)
            if (b.id == after.id) before = &b;
        const long child = childIdOf(after.id);
        if (!before) {
            reordered = true;
            if (after.focused && hasFocus()) notify(EVENT_OBJECT_FOCUS, child);
            continue;
        }
        reordered = reordered || i >= told_.size() || told_[i].id != after.id;
        const uint32_t changed = differences(*before, after);
        if (changed & kChangedRole) reordered = true;
        if (changed & kChangedName) notify(EVENT_OBJECT_NAMECHANGE, child);
        if (changed & kChangedDescription) notify(EVENT_OBJECT_DESCRIPTIONCHANGE, child);
        if (changed & kChangedValue) notify(EVENT_OBJECT_VALUECHANGE, child);
        if (changed & kChangedBounds) notify(EVENT_OBJECT_LOCATIONCHANGE, child);
        if (changed & (kChangedChecked | kChangedEnabled | kChangedFocused))
            notify(EVENT_OBJECT_STATECHANGE, child);
        if ((changed & kChangedFocused) && after.focused && hasFocus()) notify(EVENT_OBJECT_FOCUS, child);
    }
    told_ = std::move(now);
    if (reordered) notify(EVENT_OBJECT_REORDER, CHILDID_SELF);
    if (std::string status = readableStatus(ui_); status != toldStatus_) {
        toldStatus_ = std::move(status);
        notify(EVENT_OBJECT_DESCRIPTIONCHANGE, CHILDID_SELF);
    }
}

bool PanelAccessible::queueAction(const PanelControl& control, int steps) {
    if (!control.enabled || !window_) return false;
    return PostMessageW(window_, kActionMessage, static_cast<WPARAM>(toInt(control.id)),
                        static_cast<LPARAM>(steps)) != 0;
}

void PanelAccessible::runAction(WPARAM wParam, LPARAM lParam) {
    if (!ui_) return;
    const auto id = static_cast<ControlId>(static_cast<int32_t>(wParam));
    const auto steps = static_cast<int>(lParam);
    if (steps == 0)
        ui_->activateControl(id);
    else
        ui_->stepControl(id, steps);
}

HRESULT PanelAccessible::lookup(const VARIANT& child, const PanelControl** control) const {
    *control = nullptr;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) return S_OK;
    for (const PanelControl& c : controls()) {
        if (childIdOf(c.id) == child.lVal) {
            *control = &c;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

// ---- IUnknown

HRESULT PanelAccessible::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
        *object = static_cast<IAccessible*>(this);
    } else if (riid == __uuidof(IEnumVARIANT)) {
        if (!window_) return E_NOINTERFACE;
        *object = static_cast<IEnumVARIANT*>(new ChildEnumerator(*this));
        return S_OK;
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG PanelAccessible::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG PanelAccessible::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

// ---- IDispatch

HRESULT PanelAccessible::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT PanelAccessible::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}
HRESULT PanelAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
HRESULT PanelAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ---- IAccessible

HRESULT PanelAccessible::get_accParent(IDispatch** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    return CreateStdAccessibleObject(window_, OBJID_WINDOW, __uuidof(IDispatch),
                                     reinterpret_cast<void**>(parent));
}

HRESULT PanelAccessible::get_accChildCount(long* count) {
    if (!count) return E_POINTER;
    if (!window_) return CO_E_OBJNOTCONNECTED;
    *count = static_cast<long>(controls().size());
    return S_OK;
}

HRESULT PanelAccessible::get_accChild(VARIANT child, IDispatch** dispatch) {
    if (!dispatch) return E_POINTER;
    *dispatch = nullptr;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (c) return S_FALSE;  // a simple element: the reader asks this object about it
    return QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(dispatch));
}

HRESULT PanelAccessible::get_accName(VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (c) return answerText(c->name, name);
    const int length = GetWindowTextLengthW(window_);
    std::wstring title(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window_, title.data(), length + 1);
    *name = SysAllocStringLen(title.data(), static_cast<UINT>(length));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT PanelAccessible::get_accValue(VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (!c || c->role != ControlRole::SpinButton) return S_FALSE;
    return answerText(c->value.view(), value);
}

HRESULT PanelAccessible::get_accDescription(VARIANT child, BSTR* description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    // The panel's own: the status line.
    return answerText(c ? c->description.view() : std::string_view(toldStatus_), description);
}

HRESULT PanelAccessible::get_accRole(VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    VariantInit(role);
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    setChildId(role, c ? msaaRole(c->role) : ROLE_SYSTEM_CLIENT);
    return S_OK;
}

HRESULT PanelAccessible::get_accState(VARIANT child, VARIANT* state) {
    if (!state) return E_POINTER;
    VariantInit(state);
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    long bits = 0;
    if (!c) {
        bits = STATE_SYSTEM_FOCUSABLE | (hasFocus() ? STATE_SYSTEM_FOCUSED : 0);
    } else {
        bits = c->enabled ? STATE_SYSTEM_FOCUSABLE : STATE_SYSTEM_UNAVAILABLE;
        if (c->focused && hasFocus()) bits |= STATE_SYSTEM_FOCUSED;
        if (c->role == ControlRole::ListItem) {
            bits |= STATE_SYSTEM_SELECTABLE | (c->checked ? STATE_SYSTEM_SELECTED : 0);
        } else if (c->checked) {
            bits |= STATE_SYSTEM_CHECKED;
        }
    }
    setChildId(state, bits);
    return S_OK;
}

HRESULT PanelAccessible::get_accHelp(VARIANT, BSTR* help) {
    if (!help) return E_POINTER;
    *help = nullptr;
    return window_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT PanelAccessible::get_accHelpTopic(BSTR* file, VARIANT, long* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = -1;
    return window_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT PanelAccessible::get_accKeyboardShortcut(VARIANT, BSTR* shortcut) {
    if (!shortcut) return E_POINTER;
    *shortcut = nullptr;
    return window_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT PanelAccessible::get_accFocus(VARIANT* child) {
    if (!child) return E_POINTER;
    VariantInit(child);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    if (!hasFocus()) return S_FALSE;
    setChildId(child, CHILDID_SELF);
    for (const PanelControl& c : controls())
        if (c.focused) setChildId(child, childIdOf(c.id));
    return S_OK;
}

HRESULT PanelAccessible::get_accSelection(VARIANT* children) {
    if (!children) return E_POINTER;
    VariantInit(children);
    return window_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT PanelAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    return c ? answerText(defaultAction(*c), action) : S_FALSE;
}

HRESULT PanelAccessible::accSelect(long flags, VARIANT child) {
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (flags != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
    if (c && !c->enabled) return E_FAIL;
    SetFocus(window_);
    if (c) {
        ui_->focusControl(c->id);
        InvalidateRect(window_, nullptr, FALSE);
    }
    return S_OK;
}

HRESULT PanelAccessible::accLocation(long* left, long* top, long* width, long* height, VARIANT child) {
    if (!left || !top || !width || !height) return E_POINTER;
    *left = *top = *width = *height = 0;
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    RECT client;
    GetClientRect(window_, &client);
    PixelRect r{0, 0, client.right - client.left, client.bottom - client.top};
    if (c) r = toPixels(c->rect, platform_->dpi / 96.0);
    POINT origin{r.x, r.y};
    ClientToScreen(window_, &origin);
    *left = origin.x;
    *top = origin.y;
    *width = r.width;
    *height = r.height;
    return S_OK;
}

HRESULT PanelAccessible::accNavigate(long direction, VARIANT start, VARIANT* end) {
    if (!end) return E_POINTER;
    VariantInit(end);
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(start, &c); FAILED(hr)) return hr;
    const std::span<const PanelControl> all = controls();
    const PanelControl* to = nullptr;
    switch (direction) {
        case NAVDIR_FIRSTCHILD:
        case NAVDIR_LASTCHILD:
            if (c) return E_INVALIDARG;  // simple elements have no children
            if (!all.empty()) to = direction == NAVDIR_FIRSTCHILD ? &all.front() : &all.back();
            break;
        case NAVDIR_NEXT:
        case NAVDIR_PREVIOUS:
            if (!c) return S_FALSE;  // the client area's siblings are the window's to tell
            if (direction == NAVDIR_NEXT && c + 1 < all.data() + all.size()) to = c + 1;
            if (direction == NAVDIR_PREVIOUS && c > all.data()) to = c - 1;
            break;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
    if (!to) return S_FALSE;
    setChildId(end, childIdOf(to->id));
    return S_OK;
}

HRESULT PanelAccessible::accHitTest(long x, long y, VARIANT* child) {
    if (!child) return E_POINTER;
    VariantInit(child);
    if (!window_) return CO_E_OBJNOTCONNECTED;
    POINT at{x, y};
    ScreenToClient(window_, &at);
    RECT client;
    GetClientRect(window_, &client);
    if (!PtInRect(&client, at)) return S_FALSE;
    setChildId(child, CHILDID_SELF);
    const double scale = platform_->dpi > 0 ? platform_->dpi / 96.0 : 1.0;
    const int dipX = static_cast<int>(at.x / scale), dipY = static_cast<int>(at.y / scale);
    for (const PanelControl& c : controls()) {
        const HitRegion region{c.id, c.rect.x, c.rect.y, c.rect.width, c.rect.height};
        if (contains(region, dipX, dipY)) setChildId(child, childIdOf(c.id));
    }
    return S_OK;
}

HRESULT PanelAccessible::accDoDefaultAction(VARIANT child) {
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (!c || c->role == ControlRole::SpinButton) return DISP_E_MEMBERNOTFOUND;
    return queueAction(*c, 0) ? S_OK : E_FAIL;
}

HRESULT PanelAccessible::put_accName(VARIANT, BSTR) {
    return window_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
}

// A spin button takes a number, reached as its arrows reach it: the program and the MIDI channel
// move one step a request (the amplifier answers each), a filter position as far as stepping allows.
HRESULT PanelAccessible::put_accValue(VARIANT child, BSTR value) {
    const PanelControl* c = nullptr;
    if (const HRESULT hr = lookup(child, &c); FAILED(hr)) return hr;
    if (!c || c->role != ControlRole::SpinButton) return DISP_E_MEMBERNOTFOUND;
    if (!value) return E_INVALIDARG;
    wchar_t* end = nullptr;
    const long long target = std::wcstoll(value, &end, 10);
    if (end == value || *end != L'\0') return E_INVALIDARG;
    const std::optional<int> steps = stepsTo(*c, target);
    if (!steps) return E_INVALIDARG;
    if (*steps == 0) return S_OK;
    return queueAction(*c, *steps) ? S_OK : E_FAIL;
}

}  // namespace halvard
