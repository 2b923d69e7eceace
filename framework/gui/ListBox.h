#pragma once
// Lists of text items: TListBox (rows in a white box, a click selects, the wheel scrolls)
// and TComboBox (the chosen item in a box; a click drops the list over the form, a click on
// an item chooses it, a click elsewhere closes the list). ItemIndex -1 is "none". Items
// changed directly ask for Repaint from the caller; an ItemIndex past the items reads -1.
#include <cstdint>

#include "framework/gui/StdCtrls.h"

namespace quorvel {

class TListBox : public TTextControl {
  FW_CLASS(TListBox, TTextControl)

public:
  static constexpr float DefaultWidth = 200;
  static constexpr float DefaultHeight = 200;
  static constexpr float DefaultItemHeight = 22;
  explicit TListBox(TComponent* AOwner);

  TStrings* GetItems() const { return FItems.get(); }
  int32_t GetCount() const { return FItems->Count(); }
  int32_t GetItemIndex() const;
  // Out-of-range values become -1. OnChange after a change.
  void SetItemIndex(int32_t Value);
  float GetItemHeight() const { return FItemHeight; }
  void SetItemHeight(float Value);
  // The first row shown; kept within 0..(items - visible rows).
  int32_t GetFirstVisibleItem() const { return FFirstItem; }
  void SetFirstVisibleItem(int32_t Value);
  // The item at a point in local coordinates, or -1.
  int32_t ItemAtPoint(float X, float Y) const;
  // Deletes the item (and moves the selection to none when it was the selected one).
  void DeleteItem(int32_t Index);

  void MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) override;

  TNotifyEvent OnChange;
  const TNotifyEvent& GetOnChange() const { return OnChange; }
  void SetOnChange(const TNotifyEvent& Value) { OnChange = Value; }

protected:
  void Paint() override;

private:
  int32_t VisibleRows() const;

  TOwned<TStringList> FItems;
  int32_t FItemIndex = -1;
  int32_t FFirstItem = 0;
  float FItemHeight = DefaultItemHeight;
};

class TComboListPopup;

class TComboBox : public TTextControl {
  FW_CLASS(TComboBox, TTextControl)

public:
  static constexpr float DefaultWidth = 100;
  static constexpr float DefaultHeight = 22;
  static constexpr float DefaultItemHeight = 22;
  explicit TComboBox(TComponent* AOwner);

  TStrings* GetItems() const { return FItems.get(); }
  int32_t GetCount() const { return FItems->Count(); }
  int32_t GetItemIndex() const;
  // Out-of-range values become -1. OnChange after a change.
  void SetItemIndex(int32_t Value);
  // The chosen item's text, empty without one.
  std::string GetSelected() const;
  float GetItemHeight() const { return FItemHeight; }
  void SetItemHeight(float Value);

  // The drop list, over the form: shown below the box, or above it when it fits there and
  // not below.
  void DropDown();
  void CloseDropDown();
  bool GetDroppedDown() const;
  // Where the dropped list is (form client coordinates).
  TRectF GetDropDownRect() const;

  void Click() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TNotifyEvent OnChange;
  const TNotifyEvent& GetOnChange() const { return OnChange; }
  void SetOnChange(const TNotifyEvent& Value) { OnChange = Value; }

protected:
  void Paint() override;

private:
  TOwned<TStringList> FItems;
  int32_t FItemIndex = -1;
  float FItemHeight = DefaultItemHeight;
  TComboListPopup* FPopup = nullptr;
};

// The dropped list of a combo box: covers the whole form (so that a click anywhere reaches
// it) and paints the list at the combo's drop-down rectangle. Never stored.
class TComboListPopup : public TControl {
  FW_CLASS(TComboListPopup, TControl)

public:
  TComboListPopup(TComponent* AOwner, TComboBox* ACombo);
  void MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) override;

protected:
  void Paint() override;

private:
  TComboBox* FCombo;
};

}  // namespace quorvel
