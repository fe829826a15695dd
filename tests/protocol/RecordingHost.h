// A WriteHost for protocol tests: records everything the run shows, in order,
// and answers the two boxes from scripted queues (or from a hook that a test
// uses to act at that moment, e.g. to press Cancel or change the radio).
// Work reports are recorded as they come and as the window's two bars and
// write dialog follow them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "writing/StepResult.h"
#include "writing/WindowBars.h"
#include "writing/WriteHost.h"

namespace qrb {
inline void PrintTo(StepResult result, std::ostream* out) {
    *out << "StepResult " << static_cast<int>(result);
}
}  // namespace qrb

namespace qrb::test {

// What a front end without the window's bars relies on: the reports of a
// phase start at 0 of its total and count up by one unit at a time to it.
inline void ExpectWorkCountsUpTo(const std::vector<WorkProgress>& work, WorkPhase phase,
                                 int total) {
    std::vector<WorkProgress> reports;
    std::copy_if(work.begin(), work.end(), std::back_inserter(reports),
                 [phase](const WorkProgress& report) { return report.phase == phase; });
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().done, 0);
    int done = 0;
    for (const WorkProgress& report : reports) {
        EXPECT_EQ(report.total, total);
        EXPECT_TRUE(report.done == done || report.done == done + 1)
            << "from " << done << " to " << report.done;
        done = report.done;
    }
    EXPECT_EQ(done, total);
}

class RecordingHost : public WriteHost, private ProgressBars {
  public:
    struct BarMove {
        ProgressBarId bar;
        int position;
        bool operator==(const BarMove&) const = default;
    };
    struct Bar {
        int minimum = 0;
        int maximum = 100;
        int position = 0;
        bool visible = false;
    };

    // Every call in order, one short line each ("lamp 2", "text ...",
    // "ask problem", "bar1 pos 7", ...), for order checks.
    std::vector<std::string> log;

    std::vector<std::string> texts;  // instruction texts in order
    std::vector<int> lamps;          // lamp kinds in order (as asked)
    std::vector<WorkProgress> work;  // every work report, in order
    std::vector<std::string> errors;
    std::map<int, std::string> versionLabels;  // target -> text
    std::vector<BarMove> barMoves;             // every position set, in order
    Bar bar1;
    Bar bar2;

    bool dialogVisible = true;
    int dialogCloses = 0;
    int problemBoxes = 0;
    int okBoxes = 0;

    // Answers of "Problem on COM port" (true = OK, another attempt) and of
    // "Ok ?" (true = OK). When a queue is empty the default answer is used.
    std::deque<bool> problemAnswers;
    std::deque<bool> okAnswers;
    bool defaultProblemAnswer = false;
    bool defaultOkAnswer = true;
    // Called when the box is asked, before the answer is taken.
    std::function<void()> onProblemBox;
    std::function<void()> onOkBox;
    std::function<void()> onCloseDialog;

    const std::string& lastText() const {
        static const std::string none;
        return texts.empty() ? none : texts.back();
    }
    int lastLamp() const { return lamps.empty() ? 0 : lamps.back(); }
    Bar& bar(ProgressBarId id) { return id == ProgressBarId::Bar1 ? bar1 : bar2; }

    void setInstructionText(const std::string& text) override {
        texts.push_back(text);
        log.push_back("text " + text);
    }
    void showStatusLamp(StatusLamp lamp) override {
        const int kind = static_cast<int>(lamp);
        lamps.push_back(kind);
        log.push_back("lamp " + std::to_string(kind));
    }
    void setVersionLabel(WriteTarget target, const std::string& text) override {
        versionLabels[target] = text;
        log.push_back("version " + std::to_string(target) + " " + text);
    }
    void workStarted(WorkPhase phase, int total) override {
        work.push_back({phase, 0, total, 0});
        bars_.workStarted(phase, total);
    }
    void workProgressed(const WorkProgress& progress) override {
        work.push_back(progress);
        bars_.workProgressed(progress);
    }
    void workEnded() override { bars_.workEnded(); }

    // The write dialog as the window moves it.
    void showingOutcome() override {
        dialogVisible = false;
        log.push_back("dialog hide");
    }
    void retrying() override {
        dialogVisible = true;
        log.push_back("dialog show");
    }
    void runEnding() override {
        dialogVisible = false;
        ++dialogCloses;
        log.push_back("dialog close");
        if (onCloseDialog)
            onCloseDialog();
    }
    bool askProblemOnComPort() override {
        ++problemBoxes;
        log.push_back("ask problem");
        if (onProblemBox)
            onProblemBox();
        return take(problemAnswers, defaultProblemAnswer);
    }
    bool askOkConfirmation() override {
        ++okBoxes;
        log.push_back("ask ok");
        if (onOkBox)
            onOkBox();
        return take(okAnswers, defaultOkAnswer);
    }
    void showError(const std::string& message) override {
        errors.push_back(message);
        log.push_back("error " + message);
    }

  private:
    // ProgressBars: the window's bars as WindowBars drives them.
    void setRange(ProgressBarId id, int minimum, int maximum) override {
        bar(id).minimum = minimum;
        bar(id).maximum = maximum;
        log.push_back(name(id) + " range " + std::to_string(minimum) + " " +
                      std::to_string(maximum));
    }
    void setPosition(ProgressBarId id, int position) override {
        bar(id).position = position;
        barMoves.push_back({id, position});
        log.push_back(name(id) + " pos " + std::to_string(position));
    }
    void setVisible(ProgressBarId id, bool visible) override {
        bar(id).visible = visible;
        log.push_back(name(id) + (visible ? " show" : " hide"));
    }

    static std::string name(ProgressBarId id) {
        return id == ProgressBarId::Bar1 ? "bar1" : "bar2";
    }
    static bool take(std::deque<bool>& answers, bool fallback) {
        if (answers.empty())
            return fallback;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    WindowBars bars_{*this};
};

}  // namespace qrb::test
