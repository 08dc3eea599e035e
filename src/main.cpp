// clickburst: press Start, and after a 2 s grace the left button is clicked at the pointer
// every 60 ms until the program ends itself 28.9 s after Start. Takes no arguments.
#include "burst/burst_constants.h"
#include "input/mouse_event.h"
#include "runtime/program.h"
#include "window/form1.h"

int main() {
  clickburst::runtime::RunProgram<clickburst::window::Form1>(
      [] { clickburst::input::WindowShown(clickburst::burst::DescribeBurst()); });
}
