#include "desktop/FormWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMessageBox>
#include <QToolButton>

#include "desktop/AlignBox.h"
#include "desktop/CallRunner.h"
#include "desktop/ElidedLabel.h"
#include "desktop/GridView.h"
#include "desktop/IconFactory.h"
#include "desktop/MenuMirror.h"
#include "desktop/PageControlView.h"
#include "desktop/QtHostServices.h"
#include "desktop/SplitterView.h"
#include "desktop/TabStrip.h"
#include "desktop/UserAction.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/DBGrid.h"
#include "host/controls/DBText.h"
#include "host/controls/Form.h"
#include "host/controls/Label.h"
#include "host/controls/MainMenu.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/Screen.h"
#include "host/controls/ScrollBox.h"
#include "host/controls/Splitter.h"
#include "host/controls/TabSheet.h"
#include "host/data/DataSet.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsBounds(const std::string& p) {
  return p == "Left" || p == "Top" || p == "Width" || p == "Height" || p == "Align" ||
         p == "Visible";
}

QString ButtonHint(const host::TButtonFlat& b) {
  if (!b.Hint().empty()) return Q(b.Hint());
  const QString fallback = IconFactory::DefaultHint(Q(b.Glyph().empty() ? b.Name() : b.Glyph()));
  return fallback.isEmpty() ? Q(b.Caption()) : fallback;
}

// The name a screen reader says for a control: its caption ('&' removed), else its hint, else
// for a grid the caption of the tab sheet it lies on, else its component name.
QString AccessibleNameOf(const host::TControl& c) {
  QString name;
  if (const auto* b = dynamic_cast<const host::TButtonFlat*>(&c)) {
    name = ButtonHint(*b);
  } else {
    name = Q(c.Caption());
  }
  if (name.isEmpty()) name = Q(c.Hint());
  if (name.isEmpty() && dynamic_cast<const host::TDBGrid*>(&c)) {
    for (host::TControl* p = c.Parent(); p && name.isEmpty(); p = p->Parent())
      if (dynamic_cast<host::TTabSheet*>(p)) name = QStringLiteral("Lista ") + Q(p->Caption());
    if (name.isEmpty()) name = QStringLiteral("Lista principal");
  }
  if (name.isEmpty()) name = Q(c.Name());
  return name.remove(QLatin1Char('&'));
}

void DrawButton(QToolButton* w, const host::TButtonFlat& b) {
  QIcon icon = IconFactory::For(Q(b.Glyph()));
  if (icon.isNull()) icon = IconFactory::For(Q(b.Name()));
  w->setIcon(icon);
  if (icon.isNull()) {
    w->setText(Q(b.Caption()));
    w->setToolButtonStyle(Qt::ToolButtonTextOnly);
  } else {
    w->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
  w->setToolTip(ButtonHint(b));
}

}  // namespace

FormWindow::FormWindow(host::TForm& form, QMenuBar* bar, QAction* menusBefore, QWidget* parent)
    : QMdiSubWindow(parent), form_(&form) {
  setObjectName(Q(form.Name()));
  setAttribute(Qt::WA_DeleteOnClose, false);
  root_ = new AlignBox(&form, this);
  root_->setObjectName(Q(form.Name()) + QStringLiteral("_client"));
  boxes_.push_back(root_);
  widgets_[&form] = root_;
  BuildChildren(&form, root_);
  setWidget(root_);
  if (bar && form.Menu()) menus_ = std::make_unique<MenuMirror>(*form.Menu(), bar, menusBefore);
  setWindowTitle(Q(form.Caption()));
  syncing_ = true;
  ApplyBounds();
  syncing_ = false;
  connect(this, &QMdiSubWindow::windowStateChanged, this,
          [this](Qt::WindowStates, Qt::WindowStates now) {
            if (syncing_ || abandoned_ || !placed_) return;
            host::TWindowState state = host::TWindowState::wsNormal;
            if (now.testFlag(Qt::WindowMinimized)) state = host::TWindowState::wsMinimized;
            if (now.testFlag(Qt::WindowMaximized)) state = host::TWindowState::wsMaximized;
            if (form_->WindowState() != state) {
              syncing_ = true;
              UserAction::Run([&] { form_->SetWindowState(state); });
              syncing_ = false;
            }
          });
  root_->Relayout();
}

FormWindow::~FormWindow() {
  // The base class still announces state changes while it is destroyed; this part is gone then.
  disconnect(this, nullptr, this, nullptr);
  if (abandoned_) return;
  // Observers go first, so nothing calls back into half-destroyed widgets.
  subscriptions_.clear();
  menus_.reset();
}

void FormWindow::Detach(bool modelsAlive) {
  if (abandoned_) return;
  abandoned_ = true;
  for (Subscription& s : subscriptions_) {
    if (modelsAlive) {
      s.Reset();
    } else {
      s.Abandon();
    }
  }
  subscriptions_.clear();
  if (menus_) {
    if (modelsAlive) {
      menus_.reset();
    } else {
      menus_->Abandon();
    }
  }
  for (GridView* g : grids_) g->Abandon();
  for (PageControlView* p : pageControls_) p->Abandon();
  for (AlignBox* b : boxes_) b->Abandon();
  widgets_.clear();
  form_ = nullptr;
}

QWidget* FormWindow::WidgetOf(const host::TControl* control) const {
  const auto it = widgets_.find(control);
  return it == widgets_.end() ? nullptr : it->second;
}

QWidget* FormWindow::WidgetNamed(const std::string& name) const {
  for (const auto& [control, widget] : widgets_)
    if (control->Name() == name) return widget;
  return nullptr;
}

GridView* FormWindow::Grid(const std::string& name) const {
  return qobject_cast<GridView*>(WidgetNamed(name));
}

PageControlView* FormWindow::PageControl(const std::string& name) const {
  return qobject_cast<PageControlView*>(WidgetNamed(name));
}

void FormWindow::BuildChildren(host::TControl* control, AlignBox* box) {
  for (host::TControl* child : control->Controls()) Build(child, box);
  box->Relayout();
}

QWidget* FormWindow::Build(host::TControl* c, AlignBox* box) {
  QWidget* w = nullptr;
  Handler specific;
  if (auto* grid = dynamic_cast<host::TDBGrid*>(c)) {
    auto* view = new GridView(*grid);
    view->SetFocusRequest([this, grid] { return RequestFocus(grid); });
    grids_.push_back(view);
    specific = [view](const std::string& p) { view->OnModel(p); };
    w = view;
  } else if (auto* pc = dynamic_cast<host::TPageControl*>(c)) {
    auto* view = new PageControlView(pc);
    pageControls_.push_back(view);
    for (host::TControl* child : pc->Controls()) {
      auto* sheet = dynamic_cast<host::TTabSheet*>(child);
      if (!sheet) continue;
      auto* page = new AlignBox(sheet);
      page->setObjectName(Q(sheet->Name()));
      boxes_.push_back(page);
      widgets_[sheet] = page;
      page->setAccessibleName(Q(sheet->Caption()).remove(QLatin1Char('&')));
      BuildChildren(sheet, page);
      view->AddPage(sheet, page);
      Bind(sheet, page, nullptr, [view](const std::string& p) { view->OnModel(p); });
    }
    view->Sync();
    view->Strip()->setAccessibleName(QStringLiteral("Páginas"));
    specific = [view](const std::string& p) { view->OnModel(p); };
    w = view;
  } else if (auto* splitter = dynamic_cast<host::TSplitter*>(c)) {
    auto* view = new SplitterView(splitter, box);
    splitters_.push_back(view);
    w = view;
  } else if (auto* dbText = dynamic_cast<host::TDBText*>(c)) {
    auto* label = new ElidedLabel;
    label->setText(Q(dbText->Text()));
    specific = [label, dbText](const std::string& p) {
      if (p == "Text" || p == "DataField" || p == "DataSource") label->setText(Q(dbText->Text()));
    };
    w = label;
  } else if (auto* lbl = dynamic_cast<host::TLabel*>(c)) {
    auto* label = new QLabel(Q(lbl->Caption()));
    specific = [label, lbl](const std::string& p) {
      if (p == "Caption") label->setText(Q(lbl->Caption()));
    };
    w = label;
  } else if (auto* button = dynamic_cast<host::TButtonFlat*>(c)) {
    auto* tool = new QToolButton;
    tool->setAutoRaise(true);
    tool->setFocusPolicy(Qt::NoFocus);
    tool->setIconSize(QSize(16, 16));
    DrawButton(tool, *button);
    connect(tool, &QToolButton::clicked, this, [this, button] {
      if (abandoned_) return;
      UserAction::Run([button] { button->Click(); });
    });
    specific = [tool, button](const std::string& p) {
      if (p == "Caption" || p == "Glyph" || p == "Hint") DrawButton(tool, *button);
    };
    w = tool;
  } else {
    auto* container = new AlignBox(c);
    boxes_.push_back(container);
    if (auto* panel = dynamic_cast<host::TPanel*>(c)) {
      container->setFrameStyle(panel->BevelOuter() == "bvNone" ? QFrame::NoFrame
                                                               : QFrame::StyledPanel | QFrame::Raised);
    } else if (auto* scroll = dynamic_cast<host::TScrollBox*>(c)) {
      container->setFrameStyle(scroll->BorderStyle() == "bsNone" ? QFrame::NoFrame
                                                                 : QFrame::StyledPanel | QFrame::Sunken);
    }
    widgets_[c] = container;
    BuildChildren(c, container);
    w = container;
  }
  w->setObjectName(Q(c->Name()));
  // A label's name is its text, which Qt gives it already.
  if (!dynamic_cast<host::TLabel*>(c) && !dynamic_cast<host::TDBText*>(c)) w->setAccessibleName(AccessibleNameOf(*c));
  w->setFocusPolicy(Qt::NoFocus);
  widgets_[c] = w;
  if (box) box->AddChild(c, w);
  Bind(c, w, box, std::move(specific));
  return w;
}

void FormWindow::Bind(host::TControl* control, QWidget* widget, AlignBox* box, Handler specific) {
  widget->setEnabled(control->Enabled());
  if (!control->Hint().empty() && !dynamic_cast<host::TButtonFlat*>(control)) {
    widget->setToolTip(Q(control->Hint()));
  }
  subscriptions_.emplace_back(*control, [this, control, widget, box,
                                         specific = std::move(specific)](const std::string& p) {
    if (abandoned_) return;
    if (IsBounds(p) && box) box->Relayout();
    if (p == "Enabled") widget->setEnabled(control->Enabled());
    if (p == "Hint" && !dynamic_cast<host::TButtonFlat*>(control)) widget->setToolTip(Q(control->Hint()));
    if (specific) specific(p);
  });
}

void FormWindow::OnFormModel(const std::string& property) {
  if (abandoned_) return;
  if (property == "Caption") {
    setWindowTitle(Q(form_->Caption()));
  } else if (property == "Left" || property == "Top" || property == "Width" || property == "Height") {
    if (syncing_) return;
    syncing_ = true;
    ApplyBounds();
    syncing_ = false;
  } else if (property == "WindowState") {
    if (syncing_) return;
    syncing_ = true;
    ApplyWindowState();
    syncing_ = false;
  } else if (property == "ActiveControl") {
    SyncFocus();
  } else if (property == "Enabled") {
    root_->setEnabled(form_->Enabled());
  } else if (property == "Controls") {
    root_->Relayout();
  }
}

void FormWindow::ShowPlaced() {
  syncing_ = true;
  show();
  ApplyBounds();
  ApplyWindowState();
  syncing_ = false;
  placed_ = true;
}

void FormWindow::ApplyBounds() {
  if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) return;
  setGeometry(form_->Left(), form_->Top(), std::max(120, form_->Width()),
              std::max(80, form_->Height()));
}

void FormWindow::ApplyWindowState() {
  switch (form_->WindowState()) {
    case host::TWindowState::wsMinimized:
      showMinimized();
      break;
    case host::TWindowState::wsMaximized:
      showMaximized();
      break;
    case host::TWindowState::wsNormal:
      if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) showNormal();
      break;
  }
}

void FormWindow::WriteBackBounds() {
  if (syncing_ || abandoned_ || !placed_ || !isVisible()) return;
  if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) return;
  const QRect g = geometry();
  syncing_ = true;
  UserAction::Run([&] {
    if (form_->Left() != g.x()) form_->SetLeft(g.x());
    if (form_->Top() != g.y()) form_->SetTop(g.y());
    if (form_->Width() != g.width()) form_->SetWidth(g.width());
    if (form_->Height() != g.height()) form_->SetHeight(g.height());
  });
  syncing_ = false;
}

void FormWindow::moveEvent(QMoveEvent* event) {
  QMdiSubWindow::moveEvent(event);
  WriteBackBounds();
}

void FormWindow::resizeEvent(QResizeEvent* event) {
  QMdiSubWindow::resizeEvent(event);
  WriteBackBounds();
}

QWidget* FormWindow::FocusTarget() const {
  if (abandoned_) return nullptr;
  QWidget* target = WidgetOf(form_->ActiveControl());
  if (auto* pcv = qobject_cast<PageControlView*>(target)) target = pcv->Strip();
  return target;
}

bool FormWindow::FocusNeighbourGrid(int step) {
  if (abandoned_) return false;
  std::vector<GridView*> shown;
  for (GridView* g : grids_)
    if (g->Grid() && g->isVisible() && g->isEnabled()) shown.push_back(g);
  if (shown.empty()) return false;
  const int count = static_cast<int>(shown.size());
  int current = -1;
  for (int i = 0; i < count; ++i)
    if (shown[static_cast<std::size_t>(i)]->Grid() == form_->ActiveControl()) current = i;
  int next = current < 0 ? (step > 0 ? 0 : count - 1) : ((current + step) % count + count) % count;
  if (current < 0) {
    // From a page control or a tab sheet, forward goes to the grid it shows.
    QWidget* scope = FocusTarget();
    if (qobject_cast<TabStrip*>(scope)) scope = scope->parentWidget();
    for (int i = 0; scope && step > 0 && i < count; ++i) {
      if (scope->isAncestorOf(shown[static_cast<std::size_t>(i)])) {
        next = i;
        break;
      }
    }
  }
  if (next == current) return false;
  return RequestFocus(shown[static_cast<std::size_t>(next)]->Grid());
}

bool FormWindow::PressNeighbourPage(int step) {
  if (abandoned_) return false;
  PageControlView* chosen = nullptr;
  // The innermost page control around the focused widget that has pages to step through.
  if (QWidget* target = FocusTarget()) {
    for (QWidget* w = target->parentWidget(); w && !chosen; w = w->parentWidget()) {
      auto* pcv = qobject_cast<PageControlView*>(w);
      if (pcv && pcv->TabCount() > 1) chosen = pcv;
    }
  }
  if (!chosen) {
    for (PageControlView* p : pageControls_)
      if (!chosen && p->isVisible() && p->TabCount() > 1) chosen = p;
  }
  return chosen && chosen->PressNeighbourTab(step);
}

bool FormWindow::HasPendingInsert() const {
  if (abandoned_) return false;
  for (host::TComponent* c : form_->Components()) {
    auto* ds = dynamic_cast<host::TDataSet*>(c);
    if (ds && ds->State() == host::TDataSetState::dsInsert) return true;
  }
  return false;
}

void FormWindow::EnsureFocus() {
  if (abandoned_) return;
  // A form shown with no active control gives the focus to its first control that can take it,
  // as the platform's forms do when they are activated; the enter rules run as for a click.
  if (!form_->ActiveControl()) FocusNeighbourGrid(1);
  SyncFocus();
}

void FormWindow::SyncFocus() {
  if (abandoned_) return;
  QWidget* target = FocusTarget();
  if (!target) return;
  // Another screen in front keeps its focus; an inactive main window (a dialog is up) only
  // records the focus widget, which Qt gives the focus when the window is active again.
  if (mdiArea() && mdiArea()->currentSubWindow() && mdiArea()->currentSubWindow() != this) return;
  if (target->isVisible() && QApplication::focusWidget() != target) target->setFocus(Qt::OtherFocusReason);
}

bool FormWindow::RequestFocus(host::TControl* control) {
  if (abandoned_) return false;
  if (form_->ActiveControl() != control) {
    UserAction::Run([&] { form_->FocusControl(control); });
    if (abandoned_) return false;
  }
  SyncFocus();
  return form_->ActiveControl() == control;
}

void FormWindow::SetMenusShown(bool shown) {
  if (menus_) menus_->SetShown(shown);
}

void FormWindow::closeEvent(QCloseEvent* event) {
  // The form decides: its close handler chooses to hide, keep or free it, and the main window
  // follows its visibility.
  event->ignore();
  if (abandoned_ || CallRunner::Waiting()) return;
  if (HasPendingInsert() && !ConfirmDiscardPending()) return;
  UserAction::Run([this] { form_->Close(); });
}

bool FormWindow::ConfirmDiscardPending() {
  const std::string text = "Há um registro em inclusão que não foi confirmado. Deseja descartá-lo?";
  if (QtHostServices* services = QtHostServices::Installed()) {
    return services->MessageDlg(text, host::TMsgDlgType::mtConfirmation, {host::mbYes, host::mbNo}, 0) ==
           host::mrYes;
  }
  return QMessageBox::question(nullptr, QStringLiteral("Confirmação"), Q(text),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace desktop
