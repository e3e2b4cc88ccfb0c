// cairo as the vector plug-in opens it: at the first path measured or drawn, not when the player
// loads the plug-in at start-up (cairo brings a dozen shared objects with it, and many scripts
// draw no path). Every cairo function the plug-in calls is a pointer of one table.
#pragma once

#include <cairo-ft.h>
#include <cairo.h>

// Every cairo function the plug-in calls.
#define QM_CAIRO_FUNCTIONS(X) \
  X(cairo_arc) \
  X(cairo_arc_negative) \
  X(cairo_close_path) \
  X(cairo_create) \
  X(cairo_curve_to) \
  X(cairo_destroy) \
  X(cairo_fill) \
  X(cairo_fill_extents) \
  X(cairo_font_extents) \
  X(cairo_font_face_destroy) \
  X(cairo_font_face_set_user_data) \
  X(cairo_font_face_status) \
  X(cairo_font_options_create) \
  X(cairo_font_options_destroy) \
  X(cairo_font_options_set_hint_metrics) \
  X(cairo_font_options_set_hint_style) \
  X(cairo_ft_font_face_create_for_ft_face) \
  X(cairo_get_current_point) \
  X(cairo_get_matrix) \
  X(cairo_has_current_point) \
  X(cairo_image_surface_create) \
  X(cairo_image_surface_create_for_data) \
  X(cairo_line_to) \
  X(cairo_matrix_init) \
  X(cairo_move_to) \
  X(cairo_new_path) \
  X(cairo_new_sub_path) \
  X(cairo_restore) \
  X(cairo_save) \
  X(cairo_scale) \
  X(cairo_set_antialias) \
  X(cairo_set_dash) \
  X(cairo_set_fill_rule) \
  X(cairo_set_font_face) \
  X(cairo_set_font_options) \
  X(cairo_set_font_size) \
  X(cairo_set_line_cap) \
  X(cairo_set_line_join) \
  X(cairo_set_line_width) \
  X(cairo_set_matrix) \
  X(cairo_set_source_rgba) \
  X(cairo_status) \
  X(cairo_stroke) \
  X(cairo_stroke_extents) \
  X(cairo_surface_destroy) \
  X(cairo_surface_flush) \
  X(cairo_text_path) \
  X(cairo_translate) \
  X(cairo_user_to_device)

// Typed from the headers' own declarations, so that a pointer cannot drift from its function.
struct qmCairoFunctions {
#define QM_CAIRO_POINTER(name) decltype(&::name) name;
  QM_CAIRO_FUNCTIONS(QM_CAIRO_POINTER)
#undef QM_CAIRO_POINTER
};

// The table, opening cairo at the first call; null when cairo is missing, then and later. cairo
// stays loaded for the life of the process (it keeps caches of its own).
const qmCairoFunctions *CairoLibrary();
