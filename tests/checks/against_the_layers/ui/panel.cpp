// The layering check's own test: the panel including the window system.
#include <gtk/gtk.h>
