// Linux half of Form1: an FLTK window built from the layout table. The window manager
// places it; closing it ends the program through the run-time layer's driver.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "window/form1.h"
#include "window/icon/clickburst_16.xpm"
#include "window/icon/clickburst_32.xpm"
#include "window/layout.h"

namespace clickburst::window {
namespace {

// The X resource desktops set for HiDPI screens; the screen's millimetre size is often fiction.
int ScreenDpi() {
  if (const char* dpi = XGetDefault(fl_display, "Xft", "dpi")) {
    const int value = std::atoi(dpi);
    if (value >= 48 && value <= 480) {
      return value;
    }
  }
  return kDefaultDpi;
}

// FLTK draws '&' as an underline marker in every label; "&&" shows one '&'.
std::string Literal(std::string_view text) {
  std::string literal;
  for (const char c : text) {
    literal += c;
    if (c == '&') {
      literal += '&';
    }
  }
  return literal;
}

// A push button that Enter presses too while it has the focus, as on Windows.
class CommandButton final : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;
  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) &&
        (Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META)) == 0) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }
};

class FltkForm1Window final : public Form1Window {
 public:
  explicit FltkForm1Window(std::function<void()> on_command1_click)
      : on_command1_click_(std::move(on_command1_click)) {
    const int dpi = ScreenDpi();
    const auto px = [dpi](Twips twips) { return TwipsToPixels(twips, dpi); };
    title_ = std::string(kTitleText);
    window_ = new Fl_Window(px(kClientWidthTwips), px(kClientHeightTwips), title_.c_str());
    const int font_px = px(kFontHeightTwips);
    texts_.reserve(kControls.size());  // FLTK keeps the pointers: no reallocation after this
    // Each widget made below is owned by window_, the group that is current until end().
    // NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
    for (const ControlLayout& control : kControls) {  // in tab order
      texts_.push_back(control.kind == ControlKind::kCommandButton ? std::string(control.text)
                                                                   : Literal(control.text));
      const char* text = texts_.back().c_str();
      Fl_Widget* widget = nullptr;
      if (control.kind == ControlKind::kCommandButton) {
        auto* button = new CommandButton(px(control.left), px(control.top), px(control.width),
                                         px(control.height), text);
        button->callback(&OnCommand1, this);
        widget = button;
      } else {
        auto* label = new Fl_Box(px(control.left), px(control.top), px(control.width),
                                 px(control.height), text);
        label->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
        widget = label;
      }
      widget->labelsize(font_px);
    }
    // NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)
    window_->end();
    window_->size_range(window_->w(), window_->h(), window_->w(), window_->h());
    window_->callback(&OnWindowCallback);
    icon_32_ = std::make_unique<Fl_RGB_Image>(&pixmap_32_);
    icon_16_ = std::make_unique<Fl_RGB_Image>(&pixmap_16_);
    const Fl_RGB_Image* icons[] = {icon_32_.get(), icon_16_.get()};
    window_->icons(icons, 2);
  }

  FltkForm1Window(const FltkForm1Window&) = delete;
  FltkForm1Window& operator=(const FltkForm1Window&) = delete;

  void Show() override { window_->show(); }

 private:
  static void OnCommand1(Fl_Widget*, void* self) {
    static_cast<FltkForm1Window*>(self)->on_command1_click_();
  }

  // What FLTK's default does, less closing on Escape: a Windows window does not close on it.
  static void OnWindowCallback(Fl_Widget* window, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
      return;
    }
    window->hide();
  }

  std::function<void()> on_command1_click_;
  std::string title_;
  std::vector<std::string> texts_;  // FLTK keeps pointers to label texts
  Fl_Window* window_ = nullptr;     // lives as long as the process
  Fl_Pixmap pixmap_32_{clickburst_32_xpm};
  Fl_Pixmap pixmap_16_{clickburst_16_xpm};
  std::unique_ptr<Fl_RGB_Image> icon_32_;
  std::unique_ptr<Fl_RGB_Image> icon_16_;
};

}  // namespace

std::unique_ptr<Form1Window> CreateForm1Window(std::function<void()> on_command1_click) {
  return std::make_unique<FltkForm1Window>(std::move(on_command1_click));
}

}  // namespace clickburst::window
