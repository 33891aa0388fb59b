// TControl is the headless model of a visual control: its place in the visual tree (Parent and
// the controls it holds), visibility, enabling, bounds, alignment, caption, hint, colour name and
// its focus events. The owner (who destroys the control: always its form) and the visual parent
// (who holds it on screen) are separate, as on the platform: a grid owned by the form may sit on
// a scroll box on a tab sheet.
//
// Every property change is announced through Observable::Notify with the property's name; the
// Qt host draws from these models and sends user actions back to them, so a refusal (an OnExit
// that raises, for instance) is decided here and the widget follows.
//
// Destroying a control detaches it from its parent and its children; it never destroys its
// visual children (their owner does). Used on the user-interface thread only. Not copyable.
#pragma once

#include <string>
#include <vector>

#include "host/controls/Observable.h"
#include "host/core/Component.h"
#include "host/core/Events.h"

namespace host {

class TForm;

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

class TControl : public TComponent, public Observable {
 public:
  explicit TControl(std::string name = {}, TComponent* owner = nullptr);
  ~TControl() override;

  // Visual parent; null for a form or a control not placed yet.
  TControl* Parent() const { return parent_; }
  // Moves this control under `parent` (null removes it from its parent). Raises EPlatformError
  // when `parent` is this control or one of its descendants.
  void SetParent(TControl* parent);
  // Controls placed directly on this one, in the order they were placed.
  const std::vector<TControl*>& Controls() const { return children_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  void SetHeight(int height);

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint);
  // Colour by its platform name ("clInfoBk", "clBtnFace"); empty means the default.
  const std::string& Color() const { return color_; }
  void SetColor(std::string color);

  // The focus enters / leaves this control (see TForm::FocusControl for the order). An
  // exception raised by OnExit refuses the move.
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  // Run by the form when the focus enters / leaves this control: OnEnter / OnExit when set.
  // Controls with platform behaviour of their own on focus changes override them (a grid may
  // cancel an untouched new row before its OnExit). Exceptions propagate.
  virtual void DoEnter();
  virtual void DoExit();

  // True when this kind of control can hold the input focus and it and every visual parent up
  // to its form are visible and enabled.
  bool CanFocus() const;
  // True when this control holds the focus of its form.
  bool Focused() const;
  // Moves the focus of this control's form to this control (TForm::FocusControl). Raises
  // EPlatformError when the control belongs to no form.
  virtual void SetFocus();

  // The form this control belongs to: the nearest owner that is a form (a form is its own).
  // Null when none.
  TForm* Form() const;
  // True when `other` is this control or lies on it at any depth.
  bool ContainsControl(const TControl* other) const;

  // Announces a property change to the observers; models and the description loader use it
  // after changing state that has no setter of its own.
  void Changed(const std::string& property) { Notify(property); }

 protected:
  // Whether this kind of control takes the input focus at all (labels, splitters and flat
  // buttons do not).
  virtual bool TakesFocus() const { return true; }
  // Called after `child` has been placed on / removed from this control.
  virtual void ChildAdded(TControl* child);
  virtual void ChildRemoved(TControl* child);

 private:
  template <class T>
  void SetAndNotify(T& member, T value, const char* property);

  TControl* parent_ = nullptr;
  std::vector<TControl*> children_;
  bool visible_ = true;
  bool enabled_ = true;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = TAlign::alNone;
  std::string caption_;
  std::string hint_;
  std::string color_;
};

}  // namespace host
