#include "desktop/PageControlView.h"

#include <QStackedWidget>
#include <QVBoxLayout>

#include "desktop/TabStrip.h"
#include "desktop/UserAction.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"

namespace desktop {

PageControlView::PageControlView(host::TPageControl* model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName(QString::fromStdString(model->Name()));
  strip_ = new TabStrip(this);
  strip_->setObjectName(objectName() + QStringLiteral("_tabs"));
  stack_ = new QStackedWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(strip_);
  layout->addWidget(stack_, 1);
  strip_->SetPressHandler([this](int index, Qt::MouseButton button, Qt::KeyboardModifiers mods,
                                 QPoint pos) { Press(index, button, mods, pos); });
}

void PageControlView::AddPage(host::TTabSheet* sheet, QWidget* page) {
  pages_.push_back({sheet, page});
  stack_->addWidget(page);
}

void PageControlView::Abandon() {
  model_ = nullptr;
  pages_.clear();
  tabs_.clear();
}

host::TTabSheet* PageControlView::PageOfTab(int index) const {
  if (index < 0 || index >= static_cast<int>(tabs_.size())) return nullptr;
  return tabs_[static_cast<std::size_t>(index)];
}

void PageControlView::OnModel(const std::string& property) {
  if (!model_) return;
  if (property == "ActivePage" || property == "Pages" || property == "Caption" ||
      property == "Enabled" || property == "TabVisible" || property == "Visible") {
    Sync();
  }
}

void PageControlView::Sync() {
  if (!model_) return;
  syncing_ = true;
  tabs_.clear();
  for (host::TTabSheet* sheet : model_->Pages())
    if (sheet->TabVisible()) tabs_.push_back(sheet);
  while (strip_->count() > static_cast<int>(tabs_.size())) strip_->removeTab(strip_->count() - 1);
  while (strip_->count() < static_cast<int>(tabs_.size())) strip_->addTab(QString());
  int current = -1;
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    const int index = static_cast<int>(i);
    strip_->setTabText(index, QString::fromStdString(tabs_[i]->Caption()));
    strip_->setTabEnabled(index, tabs_[i]->Enabled());
    if (tabs_[i] == model_->ActivePage()) current = index;
  }
  if (current >= 0) strip_->setCurrentIndex(current);
  strip_->setVisible(!tabs_.empty());
  for (const Page& p : pages_) {
    if (p.sheet == model_->ActivePage()) stack_->setCurrentWidget(p.widget);
  }
  syncing_ = false;
}

void PageControlView::Press(int index, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                            QPoint position) {
  if (!model_) return;
  host::TTabSheet* sheet = PageOfTab(index);
  host::TMouseButton b = host::TMouseButton::mbLeft;
  if (button == Qt::RightButton) b = host::TMouseButton::mbRight;
  if (button == Qt::MiddleButton) b = host::TMouseButton::mbMiddle;
  host::TShiftState shift;
  shift.shift = modifiers.testFlag(Qt::ShiftModifier);
  shift.ctrl = modifiers.testFlag(Qt::ControlModifier);
  shift.alt = modifiers.testFlag(Qt::AltModifier);
  // A press beside the tabs still belongs to the strip: it is given to the active page's tab,
  // which runs the mouse-down rule and changes nothing.
  if (!sheet) sheet = model_->ActivePage();
  if (!sheet) return;
  UserAction::Run([&] { model_->PressTab(sheet, b, shift, position.x(), position.y()); });
  Sync();
}

bool PageControlView::PressTab(host::TTabSheet* sheet) {
  if (!model_) return false;
  host::TTabSheet* before = model_->ActivePage();
  UserAction::Run([&] { model_->PressTab(sheet); });
  Sync();
  return model_ && model_->ActivePage() != before;
}

}  // namespace desktop

namespace desktop {

bool PageControlView::PressNeighbourTab(int step) {
  if (!model_ || tabs_.empty()) return false;
  const int count = static_cast<int>(tabs_.size());
  const int current = std::max(0, strip_->currentIndex());
  const int index = ((current + step) % count + count) % count;
  host::TTabSheet* before = model_->ActivePage();
  Press(index, Qt::LeftButton, Qt::NoModifier, strip_->tabRect(index).center());
  return model_ && model_->ActivePage() != before;
}

}  // namespace desktop
