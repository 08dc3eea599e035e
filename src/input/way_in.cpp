#include "input/way_in.h"

#include <climits>
#include <string>
#include <utility>

namespace clickburst::input {

std::string SetUpOverrun(std::string_view whom) {
  return std::string(whom) + " did not answer within the " + std::to_string(kSetUpBound.count()) +
         " ms clickburst gives its set-up";
}

WayIn Refusal(Answer answer, std::string words) {
  WayIn refusal;
  refusal.answer = answer;
  refusal.words = std::move(words);
  return refusal;
}

WayIn Clicks(ClickRoutine click, void (*end)()) {
  WayIn way_in;
  way_in.answer = Answer::kClicks;
  way_in.click = click;
  way_in.end = end;
  return way_in;
}

Choice ChooseWayIn(std::span<const WayInRow> table, const SetUp& set_up,
                   std::string_view set_up_failure, std::string_view none) {
  Choice choice;
  int named_rank = INT_MAX;
  bool desktop_refused = false;
  for (const WayInRow& row : table) {
    if ((row.needs_compositor && !set_up.connected) || (row.asks_the_desktop && desktop_refused)) {
      continue;
    }
    WayIn answer = row.open(set_up);
    if (answer.answer == Answer::kClicks) {
      choice.chosen = std::move(answer);
      return choice;
    }
    if (answer.answer == Answer::kAbsent || answer.words.empty()) {
      continue;
    }
    desktop_refused = desktop_refused || row.speaks_for_desktop;
    if (row.notice_rank < named_rank) {
      named_rank = row.notice_rank;
      choice.reason = std::move(answer.words);
    } else if (row.notice_rank == named_rank) {
      choice.reason += "; and " + answer.words;
    }
  }
  choice.reason = !set_up_failure.empty() ? std::string(set_up_failure)
                  : choice.reason.empty() ? std::string(none)
                                          : choice.reason;
  return choice;
}

}  // namespace clickburst::input
