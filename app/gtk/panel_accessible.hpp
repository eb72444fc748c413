#pragma once
// The panel's controls for screen readers on GTK 3. The drawing area's accessible (ATK, which GTK's
// bridge serves over AT-SPI) has one child per control of the last frame, in reading order, with
// its role, name, description, states, extents, actions and, for a spin button, its value. A child
// stays the same object while its control is shown, so that a reader's reference keeps meaning the
// same control; a control that goes is marked defunct and its child forgets the panel.
//
// UI thread only.

typedef struct _GtkWidget GtkWidget;

namespace halvard {

class Platform;
class Ui;

// A drawing area whose accessible shows the panel's controls; the platform gives the scale from
// DIPs to the area's pixels and must outlive the widget.
GtkWidget* newPanelArea(const Platform& platform);

// The panel whose controls the area's accessible shows; nullptr: none (the children go).
void attachPanelToArea(GtkWidget* area, Ui* ui);

// After a Paint whose controls differ from the last: the children follow, and the readers are told
// what changed. Does nothing until a reader has asked for the area's accessible.
void panelAreaControlsChanged(GtkWidget* area);

}  // namespace halvard
