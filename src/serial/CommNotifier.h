// Hands line events from the serial component's worker threads to the
// thread that owns the component, and waits until they have been handled.
//
// A notice is posted as a Qt event to this object, which lives on the owner
// thread, and a worker never reports its next event before the owner has
// run the handler of its last one. send() waits for the handler right
// away; a Sender waits only when it has the next notice to post, so a
// receive thread can go back to watching the line while the owner reads,
// instead of sleeping once more per arrival until the owner is done. The
// owner may itself block on the workers (closing the port,
// purging the transmit queue) without handling events; for that time it
// releases the workers' waits, so the two waits can never block each other.
// A notice released this way is still handled later, when the owner gets to
// its events again.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace qrb {

// The notices and their numbers as the component's documentation gives them.
enum class CommNotice : int {
    Receive = 1280,  // bytes arrived
    Break = 1281,    // a break was detected; parameter: the event mask
    Error = 1282,    // line errors; parameter: the error bits
};

class CommNotifier : public QObject {
    struct Delivery;

  public:
    // Runs on the owner thread for every notice; session is the value the
    // sender passed, so that notices of an earlier open can be told apart.
    using Dispatch =
        std::function<void(CommNotice notice, std::int32_t parameter, std::uint64_t session)>;

    explicit CommNotifier(Dispatch dispatch, QObject* parent = nullptr);
    ~CommNotifier() override;

    // Worker threads: queues the notice for the owner thread and waits until
    // it has been handled, or until the owner releases the waits.
    void send(std::uint64_t session, CommNotice notice, std::int32_t parameter);

    // One worker's way of posting notices one at a time: post() first waits
    // until the notice it posted before has been handled (or the owner
    // releases the waits), then queues the new one and returns at once.
    class Sender {
      public:
        explicit Sender(CommNotifier& notifier) : notifier_(notifier) {}
        void post(std::uint64_t session, CommNotice notice, std::int32_t parameter);
        void waitUntilHandled();

      private:
        CommNotifier& notifier_;
        std::shared_ptr<Delivery> last_;
    };

    // Owner thread: while at least one of these lives, send() does not wait.
    class WaitRelease {
      public:
        explicit WaitRelease(CommNotifier& notifier);
        WaitRelease(const WaitRelease&) = delete;
        WaitRelease& operator=(const WaitRelease&) = delete;
        ~WaitRelease();

      private:
        CommNotifier& notifier_;
    };

  protected:
    bool event(QEvent* event) override;

  private:
    struct Delivery {
        bool handled = false;
    };
    class NoticeEvent;

    std::shared_ptr<Delivery> queue(std::uint64_t session, CommNotice notice,
                                    std::int32_t parameter);
    void waitUntilHandled(const Delivery& delivery);
    void markHandled(Delivery& delivery);

    Dispatch dispatch_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int releaseDepth_ = 0;  // WaitRelease objects alive
};

}  // namespace qrb
