#pragma once
// Asking the user: message boxes, and the proxy credentials prompt. The
// caption of every box is the program's name (its file name without the
// extension); the front end knows it.
//
// Thread safety: may be called from any thread.

#include <string>
#include <string_view>

namespace hhsync {

enum class MbButtons { kOk, kOkCancel, kYesNo, kRetryCancel };
enum class MbIcon { kNone, kStop };
enum class MbAnswer { kOk, kCancel, kRetry, kYes, kNo };

struct MessageBoxStyle {
  MbButtons buttons = MbButtons::kOk;
  MbIcon icon = MbIcon::kNone;
  bool systemModal = false;
};

// The answer a box gives when nobody answers it: ok for an OK box, cancel
// where there is a Cancel button, no for Yes/No.
constexpr MbAnswer DefaultAnswer(MbButtons buttons) {
  switch (buttons) {
    case MbButtons::kOk:
      return MbAnswer::kOk;
    case MbButtons::kOkCancel:
    case MbButtons::kRetryCancel:
      return MbAnswer::kCancel;
    case MbButtons::kYesNo:
      return MbAnswer::kNo;
  }
  return MbAnswer::kOk;
}

// The buttons and answers by name: "ok", "ok,cancel", "yes,no",
// "retry,cancel"; "ok", "cancel", "retry", "yes", "no".
constexpr const char* ButtonsText(MbButtons buttons) {
  switch (buttons) {
    case MbButtons::kOk:
      return "ok";
    case MbButtons::kOkCancel:
      return "ok,cancel";
    case MbButtons::kYesNo:
      return "yes,no";
    case MbButtons::kRetryCancel:
      return "retry,cancel";
  }
  return "ok";
}

constexpr const char* AnswerText(MbAnswer answer) {
  switch (answer) {
    case MbAnswer::kOk:
      return "ok";
    case MbAnswer::kCancel:
      return "cancel";
    case MbAnswer::kRetry:
      return "retry";
    case MbAnswer::kYes:
      return "yes";
    case MbAnswer::kNo:
      return "no";
  }
  return "ok";
}

// Answers of the proxy credentials prompt (the internet client's codes).
inline constexpr int kErrorInternetForceRetry = 12032;
inline constexpr int kErrorCancelled = 1223;

class Prompter {
 public:
  Prompter() = default;
  virtual ~Prompter() = default;
  Prompter(const Prompter&) = delete;
  Prompter& operator=(const Prompter&) = delete;

  // Shows a message box and returns the button chosen. text is 8-bit
  // program text.
  virtual MbAnswer MessageBox(std::string_view text, const MessageBoxStyle& style) = 0;

  // Asks for proxy credentials after a proxy refused them. Returns
  // kErrorInternetForceRetry with user and password filled when the request
  // is to be sent again, anything else to give up.
  virtual int AskProxyCredentials(std::string* user, std::string* password) = 0;
};

}  // namespace hhsync
