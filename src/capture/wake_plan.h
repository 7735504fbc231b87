#pragma once

#include <chrono>
#include <deque>

namespace framelog {

// When a resting page is woken before its picture, and which frame becomes
// the picture. Window-free: the caller feeds it the times and what each
// frame showed.
//
// A page woken from rest shows old content at first: its first frames
// repeat what it showed when it was hidden, then come frames of what it drew
// while hidden (its timers ran about once a second then), and only once it
// has drawn again as a shown page (drawn()) is what it shows its own of
// now. From then the frames are compared with what it showed at that
// moment, and the first that differs is the picture: content drawn after
// the wake, as fresh as a live page's. The time from the wake to that frame
// teaches the lead: the page is woken early enough for its slower wakes. The
// tick is the bound: a page that shows nothing new by then is pictured as it
// is, a still scene; if its wakes before showed something new, this one
// was slow, and the lead doubles.
//
// A picture is fresh when the page had drawn since the wake; one taken at
// the tick from a page that had not may show it as it was before, and a
// frame watch must not judge it.
class WakePlan {
public:
    using ms = std::chrono::milliseconds;

    struct Limits {
        // The lead is never shorter...
        ms least{60};
        // ... nor longer than this (or a twentieth of a longer interval),
        // nor than half the interval.
        ms most{1500};
        // Before the first wake has taught anything: a page's first wakes
        // are its slowest, so resting starts careful and learns.
        ms first{1000};
    };

    explicit WakePlan(ms interval) : WakePlan(interval, Limits{}) {}
    WakePlan(ms interval, Limits limits);

    // How long before its tick the page is woken.
    ms lead() const { return m_lead; }
    ms interval() const { return m_interval; }

    enum class Step {
        Wait, // not the picture yet
        Take, // take the picture now
    };

    // The page was woken at `at` (any clock, the same for every call).
    void woke(ms at);
    // The page has drawn since the wake: what it shows now is the baseline
    // later frames are compared with; `baselineFlat`: it is one colour.
    void drawn(ms at, bool baselineFlat = false);
    // A frame reached the widget at `at`; `changed`: it differs from the
    // baseline; `flat`: it is one colour. A flat frame after a baseline that
    // was not is no picture: a woken engine may show the page emptied
    // (the background alone) before it has drawn its content again.
    Step frame(ms at, bool changed, bool flat = false);
    // The tick is due: the picture is taken now, whatever the page shows.
    void due(ms at);

    // Woken, and no picture taken yet.
    bool awake() const { return m_awake; }
    // Whether a frame's changes count: the page has drawn since the wake.
    bool comparing() const { return m_awake && m_drawn; }
    // The picture taken last is fresh (see above).
    bool fresh() const { return m_fresh; }

    static constexpr std::size_t kRemembered = 8;

private:
    ms clamp(ms lead) const;

    ms m_interval;
    Limits m_limits;
    ms m_lead;
    // From the wake to the changed frame, newest last, the last kRemembered.
    std::deque<ms> m_latencies;
    ms m_wokeAt{0};
    bool m_awake = false;
    bool m_drawn = false;
    bool m_baselineFlat = false;
    bool m_fresh = true;
};

} // namespace framelog
