#include "host/controls/Splitter.h"

namespace host {

TSplitter::TSplitter(std::string name, TComponent* owner) : TControl(std::move(name), owner) {
  SetHeight(3);
}

void TSplitter::SetCursor(std::string cursor) {
  if (cursor_ == cursor) return;
  cursor_ = std::move(cursor);
  Changed("Cursor");
}

void TSplitter::SetResizeStyle(TResizeStyle style) {
  if (resizeStyle_ == style) return;
  resizeStyle_ = style;
  Changed("ResizeStyle");
}

void TSplitter::SetMinSize(int size) {
  if (minSize_ == size) return;
  minSize_ = size;
  Changed("MinSize");
}

}  // namespace host
