#include "platform/wx/wx_progress_bar.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

#include <algorithm>
#include <cstdint>

namespace hhsync {

namespace {

void Fill(wxImage& image, int x, int y, int w, int h, const wxColour& c) {
  image.SetRGB(wxRect(x, y, w, h), c.Red(), c.Green(), c.Blue());
}

}  // namespace

BarColours BarColours::System() {
  return {wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE),
          wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW),
          wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT),
          wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)};
}

void PaintProgressBar(wxImage& image, int range, int position, bool smooth,
                      const BarColours& colours) {
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w < 2 || h < 2) return;
  Fill(image, 0, 0, w, h, colours.face);
  // The sunken frame: dark above and to the left, light below and right.
  Fill(image, 0, 0, w - 1, 1, colours.shadow);
  Fill(image, 0, 0, 1, h - 1, colours.shadow);
  Fill(image, 0, h - 1, w, 1, colours.light);
  Fill(image, w - 1, 0, 1, h, colours.light);

  // The done part inside, a pixel of face away from the frame.
  const int x0 = 2, y0 = 2, inW = w - 4, inH = h - 4;
  if (range <= 0 || inW <= 0 || inH <= 0) return;
  const int done =
      static_cast<int>(static_cast<int64_t>(inW) * std::clamp(position, 0, range) / range);
  if (smooth) {
    if (done > 0) Fill(image, x0, y0, done, inH, colours.done);
    return;
  }
  // Blocks two thirds as wide as the inside is high, two pixels apart; the
  // last one is cut where the done part ends.
  const int block = std::max(2, inH * 2 / 3);
  for (int x = 0; x < done; x += block + 2) {
    Fill(image, x0 + x, y0, std::min(block, done - x), inH, colours.done);
  }
}

ProgressBarControl::ProgressBarControl(wxWindow* parent, wxWindowID id, const wxPoint& position,
                                       const wxSize& size, bool smooth)
    : wxControl(parent, id, position, size, wxBORDER_NONE), smooth_(smooth) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &ProgressBarControl::OnPaint, this);
}

void ProgressBarControl::ShowBar(const ProgressBar& bar) {
  const int range = bar.range;
  const int position = range == 0 ? 0 : std::clamp(bar.position, 0, range);
  if (range == range_ && position == position_) return;
  range_ = range;
  position_ = position;
  Refresh(false);
}

void ProgressBarControl::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  if (size.x <= 0 || size.y <= 0) return;
  wxImage image(size);
  PaintProgressBar(image, range_, position_, smooth_, BarColours::System());
  dc.DrawBitmap(wxBitmap(image), 0, 0);
}

}  // namespace hhsync
