// SPDX-License-Identifier: Apache-2.0
// Out-of-line parts of the overlay graphics: the polymorphic classes' anchors, the deep
// copies of graphic lists and the tablet's layer ordering.
#include "platform/foundation/graphics.h"

#include <algorithm>
#include <numeric>

ccGraphic::~ccGraphic() = default;

ccGraphicPointIcon::~ccGraphicPointIcon() = default;
std::unique_ptr<ccGraphic> ccGraphicPointIcon::clone() const {
  return std::make_unique<ccGraphicPointIcon>(*this);
}

ccGraphicText::ccGraphicText(const std::string& text, const ccVector<2>& position,
                             const ccColor& textColor, const ccColor& backgroundColor,
                             const ccUIFormat& format, const ccVector<2>& pixelOffset)
    : ccGraphic(ccGraphicProps(textColor)),
      text_(text),
      position_(position),
      background_(backgroundColor),
      format_(format),
      offset_(pixelOffset) {}
ccGraphicText::~ccGraphicText() = default;
std::unique_ptr<ccGraphic> ccGraphicText::clone() const {
  return std::make_unique<ccGraphicText>(*this);
}

ccGraphicList::ccGraphicList(const ccGraphicList& other) {
  append(other);
}

ccGraphicList& ccGraphicList::operator=(const ccGraphicList& other) {
  if (this != &other) {
    ccGraphicList copy(other);
    graphics_ = std::move(copy.graphics_);
  }
  return *this;
}

ccGraphicList::~ccGraphicList() = default;

void ccGraphicList::append(const ccGraphic& graphic) {
  graphics_.push_back(graphic.clone());
}

void ccGraphicList::append(std::unique_ptr<ccGraphic> graphic) {
  if (!graphic) throw ccBadArgument(L"A graphic list cannot hold a null graphic");
  graphics_.push_back(std::move(graphic));
}

void ccGraphicList::append(const ccGraphicList& other) {
  if (&other == this) {
    ccGraphicList copy(other);
    append(copy);
    return;
  }
  graphics_.reserve(graphics_.size() + other.graphics_.size());
  for (const std::unique_ptr<ccGraphic>& g : other.graphics_) graphics_.push_back(g->clone());
}

const ccGraphic& ccGraphicList::at(std::size_t i) const {
  if (i >= graphics_.size()) throw ccBadArgument(L"Graphic index out of range");
  return *graphics_[i];
}

void ccUITablet::draw(const ccVector<2>& point, const ccGraphicProps& props, int layer) {
  draw(ccGraphicPointIcon(point, props), layer);
}

void ccUITablet::draw(const ccGraphic& graphic, int layer) {
  drawn_.push_back(Drawn{layer, graphic.clone()});
}

ccGraphicList ccUITablet::sketch() const {
  std::vector<std::size_t> order(drawn_.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return drawn_[a].layer < drawn_[b].layer;
  });
  ccGraphicList list;
  for (std::size_t i : order) list.append(*drawn_[i].graphic);
  return list;
}
