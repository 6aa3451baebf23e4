// A picture being composed: frames placed on it, areas filled, and text
// drawn by Pango on Cairo in DejaVu Sans (the fonts-dejavu-core package, so
// a font is always there), never in a font of our own.
#pragma once

#include <memory>
#include <string>

#include "client/image_scale.h"
#include "client/thumbnail_client.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace thumbnail {

struct Colour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

struct Area {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct TextStyle {
  int pixels = 12;  // the font's size
  bool bold = false;
  Colour colour{255, 255, 255};
};

// The size `text` takes on one line in `style`. Bytes that are not UTF-8
// count as U+FFFD, as they are drawn.
PictureSize TextSize(const std::string& text, const TextStyle& style);

class Canvas {
 public:
  // A canvas of width x height filled with `background`; ok() is false
  // when Cairo could not make it (too large for it, or no memory).
  Canvas(int width, int height, Colour background);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const;
  // `opacity` 1 covers the area; less lets what is under it show through.
  void Fill(const Area& area, Colour colour, double opacity = 1.0);
  // The frame's pixels with its top left corner at (x, y), cut at the
  // canvas's edges.
  void Place(const Frame& frame, int x, int y);
  // `text` on one line with its top left corner at (x, y), cut short with
  // an ellipsis where it would pass `max_width` pixels.
  void Write(const std::string& text, const TextStyle& style, int x, int y, int max_width);
  // What the canvas shows, as BGR rows.
  Frame Picture() const;

 private:
  struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const;
  };
  struct CairoDeleter {
    void operator()(cairo_t* cairo) const;
  };
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface_;
  std::unique_ptr<cairo_t, CairoDeleter> cairo_;
};

}  // namespace thumbnail
