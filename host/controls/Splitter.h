// TSplitter is the bar the user drags to resize the control aligned next to it (the product
// grid above the related lists). The model keeps its mouse cursor name ("crVSplit"), resize
// style and minimum size; the drawing host performs the drag and writes the neighbour's new
// height back into its model. A splitter never takes the focus. Used on the user-interface
// thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

enum class TResizeStyle { rsNone, rsLine, rsUpdate, rsPattern };

class TSplitter : public TControl {
 public:
  explicit TSplitter(std::string name = {}, TComponent* owner = nullptr);

  const std::string& Cursor() const { return cursor_; }
  void SetCursor(std::string cursor);
  TResizeStyle ResizeStyle() const { return resizeStyle_; }
  void SetResizeStyle(TResizeStyle style);
  int MinSize() const { return minSize_; }
  void SetMinSize(int size);

 protected:
  bool TakesFocus() const override { return false; }

 private:
  std::string cursor_;
  TResizeStyle resizeStyle_ = TResizeStyle::rsPattern;
  int minSize_ = 30;
};

}  // namespace host
