#include "tool/compose/canvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>

namespace thumbnail {
namespace {

struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};
struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct FontFree {
  void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};

// Pango takes only UTF-8; a file name may hold any bytes.
std::unique_ptr<gchar, GFree> ValidText(const std::string& text) {
  return std::unique_ptr<gchar, GFree>(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
}

// One line of `text` in `style` on `cairo`, ellipsized past `max_width`
// pixels (none when 0 or less).
std::unique_ptr<PangoLayout, ObjectUnref> LineLayout(cairo_t* cairo, const std::string& text, const TextStyle& style,
                                                     int max_width) {
  std::unique_ptr<PangoLayout, ObjectUnref> layout(pango_cairo_create_layout(cairo));
  std::unique_ptr<PangoFontDescription, FontFree> font(pango_font_description_from_string("DejaVu Sans"));
  pango_font_description_set_absolute_size(font.get(), style.pixels * PANGO_SCALE);
  pango_font_description_set_weight(font.get(), style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  if (max_width > 0) {
    pango_layout_set_width(layout.get(), max_width * PANGO_SCALE);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  }
  pango_layout_set_text(layout.get(), ValidText(text).get(), -1);
  return layout;
}

double Unit(uint8_t value) { return value / 255.0; }

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps what it parsed of its configuration, and Pango's font map
// the fonts it matched, until the process ends, and fontconfig loses a little
// on the way: no leak of ours, but LeakSanitizer would fail every program
// that draws text, and name each time what it let pass.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

void Canvas::SurfaceDeleter::operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
void Canvas::CairoDeleter::operator()(cairo_t* cairo) const { cairo_destroy(cairo); }

PictureSize TextSize(const std::string& text, const TextStyle& style) {
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1), &cairo_surface_destroy);
  std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cairo(cairo_create(surface.get()), &cairo_destroy);
  PictureSize size;
  pango_layout_get_pixel_size(LineLayout(cairo.get(), text, style, 0).get(), &size.width, &size.height);
  return size;
}

Canvas::Canvas(int width, int height, Colour background)
    : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)), cairo_(cairo_create(surface_.get())) {
  if (ok()) Fill({0, 0, width, height}, background);
}

Canvas::~Canvas() = default;

bool Canvas::ok() const {
  return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS &&
         cairo_status(cairo_.get()) == CAIRO_STATUS_SUCCESS;
}

void Canvas::Fill(const Area& area, Colour colour, double opacity) {
  cairo_set_source_rgba(cairo_.get(), Unit(colour.red), Unit(colour.green), Unit(colour.blue), opacity);
  cairo_rectangle(cairo_.get(), area.x, area.y, area.width, area.height);
  cairo_fill(cairo_.get());
}

void Canvas::Place(const Frame& frame, int x, int y) {
  cairo_surface_flush(surface_.get());
  unsigned char* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  const int width = cairo_image_surface_get_width(surface_.get());
  const int height = cairo_image_surface_get_height(surface_.get());
  const int left = std::max(x, 0), right = std::min(x + frame.width, width);
  for (int row = std::max(y, 0); row < std::min(y + frame.height, height); ++row) {
    const uint8_t* from = &frame.bgr[(static_cast<size_t>(row - y) * frame.width + (left - x)) * 3];
    // Cairo's pixels are 32-bit words, red in bits 16 to 23, whatever the
    // byte order.
    auto* to = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(row) * stride) + left;
    for (int column = left; column < right; ++column, from += 3)
      *to++ = 0xff000000u | uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
  }
  cairo_surface_mark_dirty(surface_.get());
}

void Canvas::Write(const std::string& text, const TextStyle& style, int x, int y, int max_width) {
  std::unique_ptr<PangoLayout, ObjectUnref> layout = LineLayout(cairo_.get(), text, style, max_width);
  cairo_set_source_rgb(cairo_.get(), Unit(style.colour.red), Unit(style.colour.green), Unit(style.colour.blue));
  cairo_move_to(cairo_.get(), x, y);
  pango_cairo_show_layout(cairo_.get(), layout.get());
}

Frame Canvas::Picture() const {
  cairo_surface_flush(surface_.get());
  const unsigned char* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  Frame picture;
  picture.width = cairo_image_surface_get_width(surface_.get());
  picture.height = cairo_image_surface_get_height(surface_.get());
  picture.bgr.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  uint8_t* to = picture.bgr.data();
  for (int row = 0; row < picture.height; ++row) {
    const auto* from = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(row) * stride);
    for (int column = 0; column < picture.width; ++column, to += 3) {
      to[0] = static_cast<uint8_t>(from[column]);
      to[1] = static_cast<uint8_t>(from[column] >> 8);
      to[2] = static_cast<uint8_t>(from[column] >> 16);
    }
  }
  return picture;
}

}  // namespace thumbnail
