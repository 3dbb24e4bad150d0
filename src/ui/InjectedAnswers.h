#pragma once

#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace kavel::ui {

// The test seam of a dialog that asks the user: answers queued by a test are given in place of
// the user, oldest first, and what the program asked meanwhile is recorded for the test to
// read. Without a queued answer the dialog is shown. Main thread only.
template <typename Answer, typename Question>
class InjectedAnswers {
public:
    void Queue(Answer answer) { Pending_.push_back(std::move(answer)); }
    bool HasPending() const { return !Pending_.empty(); }

    // The next queued answer, with the question recorded; none when nothing is queued.
    std::optional<Answer> Take(Question question) {
        if (Pending_.empty())
            return std::nullopt;
        std::optional<Answer> answer(std::move(Pending_.front()));
        Pending_.pop_front();
        Asked_.push_back(std::move(question));
        return answer;
    }

    // The questions answered from the queue, oldest first.
    const std::vector<Question>& Asked() const { return Asked_; }

    void Reset() {
        Pending_.clear();
        Asked_.clear();
    }

private:
    std::deque<Answer> Pending_;
    std::vector<Question> Asked_;
};

} // namespace kavel::ui
