#include "app/dialogs/update_frequency_dialog.h"

namespace hhsync {

int UpdateFrequencyDialog::SelectionForHours(int hours) {
  if (hours < 24) return 0;
  if (hours < 168) return 1;
  if (hours < 720) return 2;
  return 3;
}

void UpdateFrequencyDialog::OnInit() {
  title_ = name_ + " Server Link";
  selection_ = SelectionForHours(hours_);
}

void UpdateFrequencyDialog::OnOk(int selection) {
  accepted_ = true;
  if (selection >= 0 && selection < static_cast<int>(kChoiceHours.size())) {
    selection_ = selection;
    hours_ = kChoiceHours[static_cast<std::size_t>(selection)];
  }
}

}  // namespace hhsync
