// TDBText is a data-bound label: it shows the text of one field (DataField) of its data source's
// record set in the current row, through the field's OnGetText. As a TDataLink it follows the
// record set and tells its observers "Text" whenever the shown text may have changed. It never
// takes the focus. Used on the user-interface thread only. Not copyable.
#pragma once

#include <string>

#include "host/controls/Control.h"
#include "host/data/DataSource.h"

namespace host {

class TDBText : public TControl, public TDataLink {
 public:
  explicit TDBText(std::string name = {}, TComponent* owner = nullptr);
  ~TDBText() override;

  // Attaches to source (null detaches).
  void SetDataSource(TDataSource* source);
  using TDataLink::DataSource;
  using TDataLink::DataSet;

  const std::string& DataField() const { return dataField_; }
  void SetDataField(std::string fieldName);
  // The field shown; null when there is no record set or it has no such field.
  TField* Field() const;

  // The field's shown text (Text(true)) in the current row; empty when there is none.
  std::string Text() const;

  void DataChanged() override { Changed("Text"); }
  void ActiveRowChanged() override { Changed("Text"); }
  void StateChanged() override { Changed("Text"); }

 protected:
  bool TakesFocus() const override { return false; }

 private:
  std::string dataField_;
};

}  // namespace host
