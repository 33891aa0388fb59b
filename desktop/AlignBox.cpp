#include "desktop/AlignBox.h"

#include <QResizeEvent>
#include <algorithm>

#include "host/controls/Control.h"

namespace desktop {

AlignBox::AlignBox(host::TControl* model, QWidget* parent) : QFrame(parent), model_(model) {}

void AlignBox::AddChild(host::TControl* model, QWidget* widget) {
  widget->setParent(this);
  children_.push_back({model, widget});
}

void AlignBox::Abandon() {
  model_ = nullptr;
  children_.clear();
  neighbours_.clear();
}

void AlignBox::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Relayout();
}

host::TControl* AlignBox::NeighbourOf(const host::TControl* splitter) const {
  const auto it = neighbours_.find(splitter);
  return it == neighbours_.end() ? nullptr : it->second;
}

void AlignBox::Relayout() {
  using host::TAlign;
  neighbours_.clear();
  QRect free = contentsRect();
  auto byAlign = [&](TAlign align) {
    std::vector<const Child*> out;
    for (const Child& c : children_)
      if (c.model->Visible() && c.model->Align() == align) out.push_back(&c);
    return out;
  };
  auto chain = [&](std::vector<const Child*>& list) {
    for (std::size_t i = 1; i < list.size(); ++i) neighbours_[list[i]->model] = list[i - 1]->model;
  };

  auto tops = byAlign(TAlign::alTop);
  std::stable_sort(tops.begin(), tops.end(),
                   [](const Child* a, const Child* b) { return a->model->Top() < b->model->Top(); });
  chain(tops);
  for (const Child* c : tops) {
    const int h = std::clamp(c->model->Height(), 0, std::max(0, free.height()));
    c->widget->setGeometry(free.left(), free.top(), free.width(), h);
    free.setTop(free.top() + h);
  }
  auto bottoms = byAlign(TAlign::alBottom);
  std::stable_sort(bottoms.begin(), bottoms.end(),
                   [](const Child* a, const Child* b) { return a->model->Top() > b->model->Top(); });
  chain(bottoms);
  for (const Child* c : bottoms) {
    const int h = std::clamp(c->model->Height(), 0, std::max(0, free.height()));
    c->widget->setGeometry(free.left(), free.bottom() + 1 - h, free.width(), h);
    free.setBottom(free.bottom() - h);
  }
  auto lefts = byAlign(TAlign::alLeft);
  std::stable_sort(lefts.begin(), lefts.end(),
                   [](const Child* a, const Child* b) { return a->model->Left() < b->model->Left(); });
  chain(lefts);
  for (const Child* c : lefts) {
    const int w = std::clamp(c->model->Width(), 0, std::max(0, free.width()));
    c->widget->setGeometry(free.left(), free.top(), w, free.height());
    free.setLeft(free.left() + w);
  }
  auto rights = byAlign(TAlign::alRight);
  std::stable_sort(rights.begin(), rights.end(),
                   [](const Child* a, const Child* b) { return a->model->Left() > b->model->Left(); });
  chain(rights);
  for (const Child* c : rights) {
    const int w = std::clamp(c->model->Width(), 0, std::max(0, free.width()));
    c->widget->setGeometry(free.right() + 1 - w, free.top(), w, free.height());
    free.setRight(free.right() - w);
  }
  for (const Child* c : byAlign(TAlign::alClient)) c->widget->setGeometry(free);
  const QRect area = contentsRect();
  for (const Child& c : children_) {
    const TAlign a = c.model->Align();
    if (a == TAlign::alNone || a == TAlign::alCustom) {
      // A control without a size of its own (a data-bound label) takes the size its content
      // needs; one placed past the right or bottom edge is drawn against that edge, so it is
      // never cut off when the window is narrower than the screen was designed for.
      const QSize hint = c.widget->sizeHint();
      const int h = c.model->Height() > 0 ? c.model->Height() : std::max(0, hint.height());
      int x = area.left() + c.model->Left();
      int y = area.top() + c.model->Top();
      int w = c.model->Width();
      if (w <= 0) {
        // Up to the nearest unaligned control that starts to its right on the same rows.
        int right = area.right() + 1;
        for (const Child& o : children_) {
          const TAlign oa = o.model->Align();
          if (&o == &c || !o.model->Visible() || (oa != TAlign::alNone && oa != TAlign::alCustom)) continue;
          const int ox = area.left() + o.model->Left();
          const int oy = area.top() + o.model->Top();
          const int oh = o.model->Height() > 0 ? o.model->Height() : h;
          if (ox > x && oy < y + h && oy + oh > y) right = std::min(right, ox - 4);
        }
        w = std::max(0, right - x);
      }
      if (x + w > area.right() + 1) x = std::max(area.left(), area.right() + 1 - w);
      if (y + h > area.bottom() + 1) y = std::max(area.top(), area.bottom() + 1 - h);
      c.widget->setGeometry(x, y, w, h);
    }
    c.widget->setVisible(c.model->Visible());
  }
}

}  // namespace desktop
