// Three GObject types: the drawing area (whose class names the accessible type), the area's
// accessible (a GtkWidgetAccessible whose children are the controls) and a control's accessible
// (AtkComponent and AtkAction; a spin button's adds AtkValue). Actions run from the main loop, as
// GTK's own widgets do theirs, so a reader's call returns before anything the control starts.
#include "app/gtk/panel_accessible.hpp"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/accessible_controls.hpp"
#include "app/platform.hpp"
#include "ui/ui.hpp"

namespace halvard {
namespace {

struct HalvardPanelAccessible;

struct HalvardPanelArea {
    GtkDrawingArea parent;
    const Platform* platform;
    Ui* ui;
    HalvardPanelAccessible* accessible;  // once a reader has asked for it; not held
};
struct HalvardPanelAreaClass {
    GtkDrawingAreaClass parentClass;
};

struct HalvardPanelAccessible {
    GtkWidgetAccessible parent;
    std::vector<AtkObject*>* children;  // the controls' accessibles in reading order, each held
};
struct HalvardPanelAccessibleClass {
    GtkWidgetAccessibleClass parentClass;
};

struct HalvardControlAccessible {
    AtkObject parent;
    HalvardPanelAccessible* panel;  // not held; null once the control has gone
    ControlSnapshot* control;       // as the reader was last told
};
struct HalvardControlAccessibleClass {
    AtkObjectClass parentClass;
};
struct HalvardSpinAccessible {
    HalvardControlAccessible parent;
};
struct HalvardSpinAccessibleClass {
    HalvardControlAccessibleClass parentClass;
};

void componentInit(AtkComponentIface* iface);
void actionInit(AtkActionIface* iface);
void valueInit(AtkValueIface* iface);

G_DEFINE_TYPE(HalvardPanelArea, halvard_panel_area, GTK_TYPE_DRAWING_AREA)
G_DEFINE_TYPE(HalvardPanelAccessible, halvard_panel_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)
G_DEFINE_TYPE_WITH_CODE(HalvardControlAccessible, halvard_control_accessible, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, componentInit)
                            G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, actionInit))
G_DEFINE_TYPE_WITH_CODE(HalvardSpinAccessible, halvard_spin_accessible, halvard_control_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_VALUE, valueInit))

HalvardPanelArea* asArea(GtkWidget* widget) {
    return G_TYPE_CHECK_INSTANCE_CAST(widget, halvard_panel_area_get_type(), HalvardPanelArea);
}
HalvardPanelAccessible* asPanel(gpointer object) {
    return G_TYPE_CHECK_INSTANCE_CAST(object, halvard_panel_accessible_get_type(), HalvardPanelAccessible);
}
HalvardControlAccessible* asControl(gpointer object) {
    return G_TYPE_CHECK_INSTANCE_CAST(object, halvard_control_accessible_get_type(),
                                      HalvardControlAccessible);
}

GtkWidget* widgetOf(HalvardPanelAccessible* panel) {
    return panel ? gtk_accessible_get_widget(GTK_ACCESSIBLE(panel)) : nullptr;
}
HalvardPanelArea* areaOf(HalvardPanelAccessible* panel) {
    GtkWidget* widget = widgetOf(panel);
    return widget ? asArea(widget) : nullptr;
}
// The panel behind a control's accessible; nullptr once the control, the Ui or the widget has gone.
Ui* uiOf(HalvardControlAccessible* self) {
    HalvardPanelArea* area = areaOf(self->panel);
    return area ? area->ui : nullptr;
}
// The control as the last frame shows it, when it still acts.
const PanelControl* enabledControl(HalvardControlAccessible* self) {
    Ui* ui = uiOf(self);
    const PanelControl* control = ui ? findControl(ui->controls(), self->control->id) : nullptr;
    return control && control->enabled ? control : nullptr;
}

// GTK counts logical pixels: device pixels over the integer scale factor.
double pixelsPerDip(const HalvardPanelArea* area) {
    if (!area || !area->platform) return 1.0;
    return area->platform->dpi / 96.0 / std::max(area->platform->scaleFactor, 1);
}

AtkRole atkRole(ControlRole role) {
    switch (role) {
        case ControlRole::ToggleButton:
            return ATK_ROLE_TOGGLE_BUTTON;
        case ControlRole::PushButton:
            return ATK_ROLE_PUSH_BUTTON;
        case ControlRole::RadioButton:
            return ATK_ROLE_RADIO_BUTTON;
        case ControlRole::ListItem:
            return ATK_ROLE_LIST_ITEM;
        case ControlRole::SpinButton:
            return ATK_ROLE_SPIN_BUTTON;
    }
    return ATK_ROLE_UNKNOWN;
}
bool isSpin(const ControlSnapshot& c) {
    return c.role == ControlRole::SpinButton;
}
// A list entry reads as selected, a toggle or a radio button as checked.
AtkStateType checkedState(const ControlSnapshot& c) {
    return c.role == ControlRole::ListItem ? ATK_STATE_SELECTED : ATK_STATE_CHECKED;
}

// ---- actions, run from the main loop

struct PendingAction {
    HalvardControlAccessible* control;  // held until the action has run
    int steps;                          // 0: activate; otherwise the spin button's steps
};

gboolean runPendingAction(gpointer data) {
    auto* pending = static_cast<PendingAction*>(data);
    if (Ui* ui = uiOf(pending->control)) {
        const ControlId id = pending->control->control->id;
        if (pending->steps == 0)
            ui->activateControl(id);
        else
            ui->stepControl(id, pending->steps);
    }
    g_object_unref(pending->control);
    delete pending;
    return G_SOURCE_REMOVE;
}

// False when the control does not act now (gone, or disabled).
gboolean queueAction(HalvardControlAccessible* self, int steps) {
    if (!enabledControl(self)) return FALSE;
    g_idle_add(runPendingAction, new PendingAction{asControl(g_object_ref(self)), steps});
    return TRUE;
}

// ---- a control's accessible

void halvard_control_accessible_init(HalvardControlAccessible* self) {
    self->panel = nullptr;
    self->control = new ControlSnapshot();
}

void controlFinalize(GObject* object) {
    delete asControl(object)->control;
    G_OBJECT_CLASS(halvard_control_accessible_parent_class)->finalize(object);
}

AtkObject* controlParent(AtkObject* object) {
    HalvardPanelAccessible* panel = asControl(object)->panel;
    return panel ? ATK_OBJECT(panel) : nullptr;
}

gint controlIndex(AtkObject* object) {
    HalvardPanelAccessible* panel = asControl(object)->panel;
    if (!panel) return -1;
    const auto& children = *panel->children;
    const auto at = std::find(children.begin(), children.end(), object);
    return at == children.end() ? -1 : static_cast<gint>(at - children.begin());
}

AtkStateSet* controlStates(AtkObject* object) {
    HalvardControlAccessible* self = asControl(object);
    AtkStateSet* states = atk_state_set_new();
    GtkWidget* widget = widgetOf(self->panel);
    if (!widget || !uiOf(self)) {
        atk_state_set_add_state(states, ATK_STATE_DEFUNCT);
        return states;
    }
    const ControlSnapshot& c = *self->control;
    atk_state_set_add_state(states, ATK_STATE_VISIBLE);
    if (gtk_widget_get_mapped(widget)) atk_state_set_add_state(states, ATK_STATE_SHOWING);
    if (c.enabled) {
        atk_state_set_add_state(states, ATK_STATE_ENABLED);
        atk_state_set_add_state(states, ATK_STATE_SENSITIVE);
        atk_state_set_add_state(states, ATK_STATE_FOCUSABLE);
    }
    if (c.focused) atk_state_set_add_state(states, ATK_STATE_FOCUSED);
    switch (c.role) {
        case ControlRole::ToggleButton:
        case ControlRole::RadioButton:
            atk_state_set_add_state(states, ATK_STATE_CHECKABLE);
            break;
        case ControlRole::ListItem:
            atk_state_set_add_state(states, ATK_STATE_SELECTABLE);
            break;
        default:
            break;
    }
    if (c.checked) atk_state_set_add_state(states, checkedState(c));
    return states;
}

void halvard_control_accessible_class_init(HalvardControlAccessibleClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = controlFinalize;
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->get_parent = controlParent;
    object->get_index_in_parent = controlIndex;
    object->ref_state_set = controlStates;
}

void controlExtents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                    AtkCoordType coords) {
    HalvardControlAccessible* self = asControl(component);
    *x = *y = *width = *height = -1;
    HalvardPanelArea* area = areaOf(self->panel);
    if (!area) return;
    gint left = 0, top = 0, areaWidth = 0, areaHeight = 0;
    if (coords != ATK_XY_PARENT)
        atk_component_get_extents(ATK_COMPONENT(self->panel), &left, &top, &areaWidth, &areaHeight, coords);
    const PixelRect r = toPixels(self->control->rect, pixelsPerDip(area));
    *x = left + r.x;
    *y = top + r.y;
    *width = r.width;
    *height = r.height;
}

gboolean controlGrabFocus(AtkComponent* component) {
    HalvardControlAccessible* self = asControl(component);
    Ui* ui = uiOf(self);
    if (!ui || !enabledControl(self)) return FALSE;
    GtkWidget* widget = widgetOf(self->panel);
    gtk_widget_grab_focus(widget);
    ui->focusControl(self->control->id);
    gtk_widget_queue_draw(widget);
    return TRUE;
}

AtkLayer controlLayer(AtkComponent*) {
    return ATK_LAYER_WIDGET;
}

void componentInit(AtkComponentIface* iface) {
    iface->get_extents = controlExtents;
    iface->grab_focus = controlGrabFocus;
    iface->get_layer = controlLayer;
}

// A spin button steps up and down; every other control has the one action a click does.
gint actionCount(AtkAction* action) {
    return isSpin(*asControl(action)->control) ? 2 : 1;
}

const gchar* actionName(AtkAction* action, gint i) {
    if (isSpin(*asControl(action)->control)) return i == 0 ? "increase" : i == 1 ? "decrease" : nullptr;
    return i == 0 ? "click" : nullptr;
}

gboolean doAction(AtkAction* action, gint i) {
    HalvardControlAccessible* self = asControl(action);
    if (i < 0 || i >= actionCount(action)) return FALSE;
    if (isSpin(*self->control)) return queueAction(self, i == 0 ? 1 : -1);
    return queueAction(self, 0);
}

void actionInit(AtkActionIface* iface) {
    iface->get_n_actions = actionCount;
    iface->get_name = actionName;
    iface->do_action = doAction;
}

// ---- a spin button's value

void halvard_spin_accessible_init(HalvardSpinAccessible*) {}
void halvard_spin_accessible_class_init(HalvardSpinAccessibleClass*) {}

void spinValue(AtkValue* value, gdouble* number, gchar** text) {
    const ControlSnapshot& c = *asControl(value)->control;
    if (number) *number = c.number;
    if (text) *text = g_strdup(c.value.c_str());
}

AtkRange* spinRange(AtkValue* value) {
    const ControlSnapshot& c = *asControl(value)->control;
    return atk_range_new(c.minimum, c.maximum, nullptr);
}

gdouble spinIncrement(AtkValue*) {
    return 1.0;
}

// A value set by a reader is reached as the arrows reach it: the program and the MIDI channel move
// one step a request (the amplifier answers each), a filter position as far as stepping allows.
void spinSetValue(AtkValue* value, gdouble target) {
    HalvardControlAccessible* self = asControl(value);
    const PanelControl* control = enabledControl(self);
    if (!control || !std::isfinite(target)) return;
    const std::optional<int> steps = stepsTo(*control, std::llround(target));
    if (steps && *steps != 0) queueAction(self, *steps);
}

void valueInit(AtkValueIface* iface) {
    iface->get_value_and_text = spinValue;
    iface->get_range = spinRange;
    iface->get_increment = spinIncrement;
    iface->set_value = spinSetValue;
}

// ---- the area's accessible and its children

AtkObject* newControlAccessible(HalvardPanelAccessible* panel, const ControlSnapshot& snapshot) {
    const GType type =
        isSpin(snapshot) ? halvard_spin_accessible_get_type() : halvard_control_accessible_get_type();
    HalvardControlAccessible* self = asControl(g_object_new(type, nullptr));
    *self->control = snapshot;
    self->panel = panel;
    AtkObject* object = ATK_OBJECT(self);
    atk_object_set_role(object, atkRole(snapshot.role));
    atk_object_set_name(object, snapshot.name.c_str());
    atk_object_set_description(object, snapshot.description.c_str());
    return object;
}

// The control has gone: its accessible no longer reaches the panel, and says so.
void forgetControl(AtkObject* object, bool tell) {
    asControl(object)->panel = nullptr;
    if (tell) atk_object_notify_state_change(object, ATK_STATE_DEFUNCT, TRUE);
    g_object_unref(object);
}

// The readers learn what changed in a control they know.
void tellChanges(AtkObject* object, uint32_t changed) {
    const ControlSnapshot& c = *asControl(object)->control;
    if (changed & kChangedRole) atk_object_set_role(object, atkRole(c.role));
    if (changed & kChangedName) atk_object_set_name(object, c.name.c_str());
    if (changed & kChangedDescription) atk_object_set_description(object, c.description.c_str());
    if (changed & kChangedEnabled) {
        atk_object_notify_state_change(object, ATK_STATE_ENABLED, c.enabled);
        atk_object_notify_state_change(object, ATK_STATE_SENSITIVE, c.enabled);
    }
    if (changed & kChangedChecked) atk_object_notify_state_change(object, checkedState(c), c.checked);
    if (changed & kChangedValue) g_object_notify(G_OBJECT(object), "accessible-value");
    if (changed & kChangedFocused) atk_object_notify_state_change(object, ATK_STATE_FOCUSED, c.focused);
}

// Makes the children those of the controls the panel shows now: a control still shown keeps its
// accessible (a spin button stays one), the others' go and new ones come. With `tell`, the readers
// hear of every removal, addition and change, each index as the list stands at that moment.
void syncChildren(HalvardPanelAccessible* self, std::span<const PanelControl> controls, bool tell) {
    std::vector<AtkObject*>& old = *self->children;
    std::vector<bool> kept(old.size(), false);
    std::vector<AtkObject*> next;
    std::vector<uint32_t> changes;
    std::vector<bool> added;
    next.reserve(controls.size());
    for (const PanelControl& control : controls) {
        const ControlSnapshot now(control);
        AtkObject* child = nullptr;
        for (size_t j = 0; j < old.size() && !child; ++j) {
            const ControlSnapshot& before = *asControl(old[j])->control;
            if (!kept[j] && before.id == now.id && isSpin(before) == isSpin(now)) {
                kept[j] = true;
                child = old[j];
            }
        }
        if (child) {
            changes.push_back(differences(*asControl(child)->control, now));
            *asControl(child)->control = now;
            added.push_back(false);
        } else {
            child = newControlAccessible(self, now);
            changes.push_back(0);
            added.push_back(true);
        }
        next.push_back(child);
    }
    for (size_t j = old.size(); j-- > 0;) {
        if (kept[j]) continue;
        AtkObject* gone = old[j];
        old.erase(old.begin() + static_cast<ptrdiff_t>(j));
        if (tell) g_signal_emit_by_name(self, "children-changed::remove", static_cast<guint>(j), gone);
        forgetControl(gone, tell);
    }
    old = std::move(next);
    if (!tell) return;
    for (size_t i = 0; i < old.size(); ++i) {
        if (!added[i]) {
            if (changes[i]) tellChanges(old[i], changes[i]);
            continue;
        }
        g_signal_emit_by_name(self, "children-changed::add", static_cast<guint>(i), old[i]);
        // The focus can move onto a control that comes with this frame (a press opened the IR
        // panel, the factory list or the PROGRAMS overlay): readers follow the focus by this.
        if (asControl(old[i])->control->focused)
            atk_object_notify_state_change(old[i], ATK_STATE_FOCUSED, TRUE);
    }
}

// The panel's description is the status line; readers hear of it when it changes.
void tellStatus(HalvardPanelAccessible* self, const Ui* ui) {
    const std::string status = readableStatus(ui);
    const char* before = atk_object_get_description(ATK_OBJECT(self));
    if (status != (before ? before : "")) atk_object_set_description(ATK_OBJECT(self), status.c_str());
}

void halvard_panel_accessible_init(HalvardPanelAccessible* self) {
    self->children = new std::vector<AtkObject*>();
}

void panelFinalize(GObject* object) {
    HalvardPanelAccessible* self = asPanel(object);
    for (AtkObject* child : *self->children) forgetControl(child, false);
    delete self->children;
    G_OBJECT_CLASS(halvard_panel_accessible_parent_class)->finalize(object);
}

void panelInitialize(AtkObject* object, gpointer data) {
    ATK_OBJECT_CLASS(halvard_panel_accessible_parent_class)->initialize(object, data);
    HalvardPanelAccessible* self = asPanel(object);
    HalvardPanelArea* area = asArea(GTK_WIDGET(data));
    area->accessible = self;
    syncChildren(self, readableControls(area->ui), false);
    tellStatus(self, area->ui);
}

gint panelChildCount(AtkObject* object) {
    return static_cast<gint>(asPanel(object)->children->size());
}

AtkObject* panelChild(AtkObject* object, gint i) {
    const auto& children = *asPanel(object)->children;
    if (i < 0 || static_cast<size_t>(i) >= children.size()) return nullptr;
    return ATK_OBJECT(g_object_ref(children[static_cast<size_t>(i)]));
}

// The widget is going: the children go with it, and the area forgets its accessible.
void panelWidgetUnset(GtkAccessible* accessible) {
    HalvardPanelAccessible* self = asPanel(accessible);
    if (HalvardPanelArea* area = areaOf(self)) area->accessible = nullptr;
    syncChildren(self, {}, true);
    auto* parent = GTK_ACCESSIBLE_CLASS(halvard_panel_accessible_parent_class);
    if (parent->widget_unset) parent->widget_unset(accessible);
}

void halvard_panel_accessible_class_init(HalvardPanelAccessibleClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = panelFinalize;
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->initialize = panelInitialize;
    object->get_n_children = panelChildCount;
    object->ref_child = panelChild;
    GTK_ACCESSIBLE_CLASS(klass)->widget_unset = panelWidgetUnset;
}

// ---- the drawing area

void halvard_panel_area_init(HalvardPanelArea* self) {
    self->platform = nullptr;
    self->ui = nullptr;
    self->accessible = nullptr;
}

void halvard_panel_area_class_init(HalvardPanelAreaClass* klass) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
    gtk_widget_class_set_accessible_type(widget, halvard_panel_accessible_get_type());
    gtk_widget_class_set_accessible_role(widget, ATK_ROLE_PANEL);
}

}  // namespace

GtkWidget* newPanelArea(const Platform& platform) {
    GtkWidget* widget = GTK_WIDGET(g_object_new(halvard_panel_area_get_type(), nullptr));
    asArea(widget)->platform = &platform;
    return widget;
}

void attachPanelToArea(GtkWidget* area, Ui* ui) {
    HalvardPanelArea* self = asArea(area);
    self->ui = ui;
    if (!self->accessible) return;
    syncChildren(self->accessible, readableControls(ui), true);
    tellStatus(self->accessible, ui);
}

void panelAreaControlsChanged(GtkWidget* area) {
    HalvardPanelArea* self = asArea(area);
    if (!self->accessible) return;
    syncChildren(self->accessible, readableControls(self->ui), true);
    tellStatus(self->accessible, self->ui);
}

}  // namespace halvard
