// SPDX-License-Identifier: Apache-2.0
// Overlay graphics that diagnostics attach to images: colours, drawing properties, shapes
// wrapped as graphics, owning lists of graphics and a tablet that collects what is drawn on
// it. Graphics only record what to draw; rendering them is up to a viewer.
//
// Positions are in the coordinate system that the list is recorded with (see diag.h);
// line widths, pixel offsets and icon sizes are in screen pixels, so a graphic looks the
// same at every zoom.
#ifndef PLATFORM_FOUNDATION_GRAPHICS_H
#define PLATFORM_FOUNDATION_GRAPHICS_H

#include <cmath>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/exception.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/vector.h"

// An opaque RGB colour, 8 bits per channel. The named colours are constants:
// ccColor::red, ccColor::passColor ... A named colour may also be written as a call,
// ccColor::redColor(), which gives the same value.
class ccColor {
 public:
  constexpr ccColor() = default;  // black
  constexpr ccColor(unsigned char red, unsigned char green, unsigned char blue)
      : r_(red), g_(green), b_(blue) {}

  // Channels, 0 to 255.
  constexpr unsigned char r() const { return r_; }
  constexpr unsigned char g() const { return g_; }
  constexpr unsigned char b() const { return b_; }

  constexpr ccColor operator()() const { return *this; }
  constexpr bool operator==(const ccColor& o) const {
    return r_ == o.r_ && g_ == o.g_ && b_ == o.b_;
  }
  constexpr bool operator!=(const ccColor& o) const { return !(*this == o); }

  static const ccColor black, white, red, green, blue, yellow, orange, cyan, magenta;
  // Colours by role: failures and warnings in red and yellow, accepted results in green.
  static const ccColor redColor, greenColor, yellowColor, passColor, failColor;

 private:
  unsigned char r_ = 0;
  unsigned char g_ = 0;
  unsigned char b_ = 0;
};

inline constexpr ccColor ccColor::black{0, 0, 0};
inline constexpr ccColor ccColor::white{255, 255, 255};
inline constexpr ccColor ccColor::red{255, 0, 0};
inline constexpr ccColor ccColor::green{0, 255, 0};
inline constexpr ccColor ccColor::blue{0, 0, 255};
inline constexpr ccColor ccColor::yellow{255, 255, 0};
inline constexpr ccColor ccColor::orange{255, 165, 0};
inline constexpr ccColor ccColor::cyan{0, 255, 255};
inline constexpr ccColor ccColor::magenta{255, 0, 255};
inline constexpr ccColor ccColor::redColor{255, 0, 0};
inline constexpr ccColor ccColor::greenColor{0, 255, 0};
inline constexpr ccColor ccColor::yellowColor{255, 255, 0};
inline constexpr ccColor ccColor::passColor{0, 255, 0};
inline constexpr ccColor ccColor::failColor{255, 0, 0};

// How a graphic is drawn: colour, line width, pen style and whether closed shapes are
// filled. Throws ccBadArgument for a negative width or an unknown pen style.
class ccGraphicProps {
 public:
  enum PenStyle { eSolid = 0, eDash = 1, eDot = 2 };

  // Green, width 1, solid, not filled.
  ccGraphicProps() = default;
  // lineWidth is in screen pixels (0 = the thinnest line the viewer draws); `filled` paints
  // the inside of closed shapes (circles, rectangles) in the colour.
  explicit ccGraphicProps(const ccColor& color, int lineWidth = 1, int penStyle = eSolid,
                          bool filled = false)
      : color_(color), lineWidth_(lineWidth), penStyle_(penStyle), filled_(filled) {
    if (lineWidth < 0) throw ccBadArgument(L"A line width cannot be negative");
    if (penStyle < eSolid || penStyle > eDot) throw ccBadArgument(L"Unknown pen style");
  }

  const ccColor& color() const { return color_; }
  int lineWidth() const { return lineWidth_; }
  int penStyle() const { return penStyle_; }
  bool filled() const { return filled_; }

 private:
  ccColor color_ = ccColor::green;
  int lineWidth_ = 1;
  int penStyle_ = eSolid;
  bool filled_ = false;
};

// A circle: centre and radius in the units of its coordinate system. Throws ccBadArgument
// for a negative or non-finite radius.
class ccCircle {
 public:
  ccCircle() = default;
  ccCircle(const ccVector<2>& center, double radius) : center_(center), radius_(radius) {
    if (!(radius >= 0.0) || !std::isfinite(radius))
      throw ccBadArgument(L"A circle radius must be finite and >= 0");
  }
  const ccVector<2>& center() const { return center_; }
  double radius() const { return radius_; }

 private:
  ccVector<2> center_;
  double radius_ = 0.0;
};

// Base of every graphic: its drawing properties and a polymorphic copy.
class CCALIB_EXPORT ccGraphic {
 public:
  virtual ~ccGraphic();
  const ccGraphicProps& props() const { return props_; }
  // A new graphic of the same class and value.
  virtual std::unique_ptr<ccGraphic> clone() const = 0;

 protected:
  explicit ccGraphic(const ccGraphicProps& props) : props_(props) {}
  ccGraphic(const ccGraphic&) = default;
  ccGraphic& operator=(const ccGraphic&) = default;

 private:
  ccGraphicProps props_;
};

// Any shape value drawn with given properties: ccGraphicSimple<ccLineSeg>,
// ccGraphicSimple<ccCircle> ... The shape is only copied, so any copyable type will do.
template <class Shape>
class ccGraphicSimple : public ccGraphic {
 public:
  ccGraphicSimple(const Shape& shape, const ccGraphicProps& props)
      : ccGraphic(props), shape_(shape) {}
  const Shape& shape() const { return shape_; }
  std::unique_ptr<ccGraphic> clone() const override {
    return std::make_unique<ccGraphicSimple>(*this);
  }

 private:
  Shape shape_;
};

// Fill of a plain rectangle: its outline is drawn, and its inside painted when the props
// say filled.
struct ccGenRect {
  bool operator==(const ccGenRect&) const { return true; }
};

// A closed shape with a fill description: ccGraphicWithFill<ccRect, ccGenRect>.
template <class Shape, class Fill>
class ccGraphicWithFill : public ccGraphic {
 public:
  ccGraphicWithFill(const Shape& shape, const ccGraphicProps& props, const Fill& fill = Fill())
      : ccGraphic(props), shape_(shape), fill_(fill) {}
  const Shape& shape() const { return shape_; }
  const Fill& fill() const { return fill_; }
  std::unique_ptr<ccGraphic> clone() const override {
    return std::make_unique<ccGraphicWithFill>(*this);
  }

 private:
  Shape shape_;
  Fill fill_;
};

// A point marked by a small icon (a cross of fixed screen size).
class CCALIB_EXPORT ccGraphicPointIcon : public ccGraphic {
 public:
  ccGraphicPointIcon(const ccVector<2>& point, const ccGraphicProps& props)
      : ccGraphic(props), point_(point) {}
  ~ccGraphicPointIcon() override;
  const ccVector<2>& point() const { return point_; }
  std::unique_ptr<ccGraphic> clone() const override;

 private:
  ccVector<2> point_;
};

// Placement of a text relative to its anchor point. Throws ccBadArgument for an alignment
// outside the enumeration.
class ccUIFormat {
 public:
  // Which point of the text's box sits at the anchor.
  enum Alignment {
    eTopLeft = 0,
    eTopCenter = 1,
    eTopRight = 2,
    eCenterLeft = 3,
    eCenter = 4,
    eCenterRight = 5,
    eBottomLeft = 6,
    eBottomCenter = 7,
    eBottomRight = 8,
  };
  explicit ccUIFormat(int alignment = eTopLeft) : alignment_(alignment) {
    if (alignment < eTopLeft || alignment > eBottomRight)
      throw ccBadArgument(L"Unknown text alignment");
  }
  int alignment() const { return alignment_; }

 private:
  int alignment_ = eTopLeft;
};

// A text label. Its anchor is `position` (in the list's coordinate system) moved by
// `pixelOffset` screen pixels (x to the right, y down); the format says which point of the
// text's box sits at the anchor. The text is drawn in `textColor` on a box of
// `backgroundColor`. props().color() is the text colour.
class CCALIB_EXPORT ccGraphicText : public ccGraphic {
 public:
  ccGraphicText(const std::string& text, const ccVector<2>& position, const ccColor& textColor,
                const ccColor& backgroundColor, const ccUIFormat& format = ccUIFormat(),
                const ccVector<2>& pixelOffset = ccVector<2>());
  ~ccGraphicText() override;

  const std::string& text() const { return text_; }
  const ccVector<2>& position() const { return position_; }
  const ccColor& textColor() const { return props().color(); }
  const ccColor& backgroundColor() const { return background_; }
  const ccUIFormat& format() const { return format_; }
  const ccVector<2>& pixelOffset() const { return offset_; }
  std::unique_ptr<ccGraphic> clone() const override;

 private:
  std::string text_;  // UTF-8
  ccVector<2> position_;
  ccColor background_;
  ccUIFormat format_;
  ccVector<2> offset_;
};

// An ordered list that owns its graphics. Copies are deep (each graphic is cloned).
class CCALIB_EXPORT ccGraphicList {
 public:
  // Iterates over the graphics as `const ccGraphic&`, in the order they were appended.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ccGraphic;
    using difference_type = std::ptrdiff_t;
    using pointer = const ccGraphic*;
    using reference = const ccGraphic&;

    const_iterator() = default;
    reference operator*() const { return **it_; }
    pointer operator->() const { return it_->get(); }
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++it_;
      return old;
    }
    bool operator==(const const_iterator& o) const { return it_ == o.it_; }
    bool operator!=(const const_iterator& o) const { return it_ != o.it_; }

   private:
    friend class ccGraphicList;
    using Base = std::vector<std::unique_ptr<ccGraphic>>::const_iterator;
    explicit const_iterator(Base it) : it_(it) {}
    Base it_;
  };

  ccGraphicList() = default;
  ccGraphicList(const ccGraphicList& other);
  ccGraphicList& operator=(const ccGraphicList& other);
  ccGraphicList(ccGraphicList&&) noexcept = default;
  ccGraphicList& operator=(ccGraphicList&&) noexcept = default;
  ~ccGraphicList();

  // Appends a copy of the graphic.
  void append(const ccGraphic& graphic);
  // Appends the graphic itself; throws ccBadArgument for a null one.
  void append(std::unique_ptr<ccGraphic> graphic);
  // Appends copies of all graphics of `other`, in order.
  void append(const ccGraphicList& other);
  void clear() { graphics_.clear(); }

  std::size_t size() const { return graphics_.size(); }
  bool empty() const { return graphics_.empty(); }
  // The i-th graphic; throws ccBadArgument when i >= size().
  const ccGraphic& at(std::size_t i) const;
  const_iterator begin() const { return const_iterator(graphics_.begin()); }
  const_iterator end() const { return const_iterator(graphics_.end()); }

 private:
  std::vector<std::unique_ptr<ccGraphic>> graphics_;
};

// A drawing surface that remembers what is drawn on it. Each drawing goes to a layer;
// sketch() hands back everything drawn, lower layers first (a viewer paints them beneath
// higher ones), and in drawing order within a layer.
class CCALIB_EXPORT ccUITablet {
 public:
  ccUITablet() = default;

  // Draws a shape value (ccLineSeg, ccCircle, ccRect ...) as a ccGraphicSimple<Shape>.
  template <class Shape>
  void draw(const Shape& shape, const ccGraphicProps& props, int layer = 0) {
    draw(ccGraphicSimple<Shape>(shape, props), layer);
  }
  // Draws a point as a point icon.
  void draw(const ccVector<2>& point, const ccGraphicProps& props, int layer = 0);
  // Draws a copy of any graphic.
  void draw(const ccGraphic& graphic, int layer = 0);

  std::size_t size() const { return drawn_.size(); }
  void clear() { drawn_.clear(); }
  // Copies of everything drawn, ordered by layer, then by drawing order.
  ccGraphicList sketch() const;

 private:
  struct Drawn {
    int layer;
    std::unique_ptr<ccGraphic> graphic;
  };
  std::vector<Drawn> drawn_;
};

#endif  // PLATFORM_FOUNDATION_GRAPHICS_H
