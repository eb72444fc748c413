#pragma once
// The panel's controls for screen readers on Windows. The window answers WM_GETOBJECT for its
// client area with this IAccessible (MSAA; UI Automation reads it through its MSAA proxy). Its
// children are simple elements, one per control of the last frame in reading order, whose child id
// is the control's id + 1: an id a reader got from an event names the same control for as long as
// the control is shown.
//
// UI thread only: a reader in another process calls in through COM, which delivers its calls on
// the window's thread (a single-threaded apartment) while that thread waits for messages.

#include <oleacc.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/accessible_controls.hpp"

namespace halvard {

class Ui;
struct PlatformState;

class PanelAccessible final : public IAccessible {
public:
    // The message the window gets for an action a reader asked for: wParam the control's id, lParam
    // the spin button's steps (0: the control's click). Actions run from the message loop, as a
    // Win32 button's do, so that the reader's call returns first.
    static constexpr UINT kActionMessage = WM_APP + 0x41;

    // One reference, the caller's.
    PanelAccessible(HWND window, const PlatformState& platform);
    PanelAccessible(const PanelAccessible&) = delete;
    PanelAccessible& operator=(const PanelAccessible&) = delete;

    // The panel it reads; nullptr before the panel goes (no children then).
    void attach(Ui* ui);
    // The window is going: from now on every call fails with CO_E_OBJNOTCONNECTED, however long a
    // reader holds the object.
    void disconnect();
    // After a Paint whose controls differ from the last: tells the readers what changed.
    void controlsChanged();
    // kActionMessage arrived.
    void runAction(WPARAM wParam, LPARAM lParam);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: none (readers call IAccessible directly)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;
    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;

private:
    class ChildEnumerator;  // IEnumVARIANT: the ids of the controls shown now

    ~PanelAccessible() = default;
    std::span<const PanelControl> controls() const;
    // The control a child id names: S_OK and nullptr for the client area itself, S_OK and the
    // control, E_INVALIDARG for an id the last frame does not show, CO_E_OBJNOTCONNECTED once the
    // window has gone.
    HRESULT lookup(const VARIANT& child, const PanelControl** control) const;
    bool hasFocus() const;
    // Posts the action; false when the control does not act now.
    bool queueAction(const PanelControl& control, int steps);

    LONG references_ = 1;
    HWND window_;
    const PlatformState* platform_;
    Ui* ui_ = nullptr;
    std::vector<ControlSnapshot> told_;  // the controls as the readers were last told of them
    std::string toldStatus_;             // the status line, the panel's description, as last told
};

}  // namespace halvard
