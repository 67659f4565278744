#pragma once
// A progress bar the program draws itself. The toolkit's own bar keeps to
// its theme's height (a few pixels under GTK) whatever size it is given,
// while the dialogs lay their bars out as rectangles that the bar fills: a
// sunken frame, and inside it the done part in the selection colour, as one
// smooth block or as blocks with gaps.
//
// Thread safety: the GUI thread only, like every window.

#include <wx/control.h>
#include <wx/image.h>

#include "platform/dialog_host.h"

namespace hhsync {

// The colours of a bar: the system's, unless a caller gives its own.
struct BarColours {
  wxColour face, shadow, light, done;
  static BarColours System();
};

// Paints a bar of the given state over the whole image (memory only, so it
// needs no display). A range of 0 shows an empty bar.
void PaintProgressBar(wxImage& image, int range, int position, bool smooth,
                      const BarColours& colours);

class ProgressBarControl final : public wxControl {
 public:
  ProgressBarControl(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxSize& size,
                     bool smooth);

  // Takes the bar's range and position; redraws only when they changed.
  void ShowBar(const ProgressBar& bar);
  int range() const { return range_; }
  int position() const { return position_; }

 private:
  void OnPaint(wxPaintEvent& event);
  wxSize DoGetBestSize() const override { return GetSize(); }

  bool smooth_;
  int range_ = 0;
  int position_ = 0;
};

}  // namespace hhsync
