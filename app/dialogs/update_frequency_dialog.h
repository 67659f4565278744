#pragma once
// The model of the update frequency dialog of the configuration mode: a
// drop-down list of four choices, confirmed with OK. A front end shows
// it, lets the user pick a choice and calls OnOk when OK is pressed; closing
// it any other way leaves the hours as they were.

#include <array>
#include <string>
#include <vector>

#include "platform/dialog_host.h"

namespace hhsync {

class UpdateFrequencyDialog final : public FrequencyDialogModel {
 public:
  static constexpr std::array<const char*, 4> kChoices = {"Every Sync", "Once a day", "Once a week",
                                                          "Once a month"};
  static constexpr std::array<int, 4> kChoiceHours = {0, 24, 168, 720};

  UpdateFrequencyDialog(std::string name, int hours) : name_(std::move(name)), hours_(hours) {}

  // Initialisation: the title and the selection that the hours fall into.
  void OnInit() override;
  // OK with the given list selection (-1: none): the hours become the
  // choice's hours; with no selection they stay.
  void OnOk(int selection) override;

  std::string Title() const override { return title_; }
  int Selection() const override { return selection_; }
  std::vector<std::string> Choices() const override { return {kChoices.begin(), kChoices.end()}; }
  int Hours() const { return hours_; }
  // Whether the dialog was confirmed with OK.
  bool accepted() const { return accepted_; }

  static int SelectionForHours(int hours);

 private:
  std::string name_;
  int hours_;
  std::string title_ = "Dialog";
  int selection_ = -1;
  bool accepted_ = false;
};

}  // namespace hhsync
