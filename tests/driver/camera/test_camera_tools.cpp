// The setting tools of the simulated cameras, each measured on the stream
// it changes.

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "CameraTestSupport.h"

using namespace kvtest;

namespace {

double onShare(const std::vector<Event2D>& ev) {
    size_t on = 0;
    for (const auto& e : ev)
        on += e.polarity ? 1 : 0;
    return ev.empty() ? 0 : double(on) / double(ev.size());
}

size_t insideCount(const std::vector<Event2D>& ev, const PixelRect& r) {
    size_t n = 0;
    for (const auto& e : ev)
        n += r.contains(e.x, e.y) ? 1 : 0;
    return n;
}

// Events that follow another event at the same pixel within window_us (of
// the same polarity only, when samePolarity).
size_t repeats(const std::vector<Event2D>& ev, uint64_t window_us, bool samePolarity = false) {
    std::map<uint32_t, Event2D> last;
    size_t n = 0;
    for (const auto& e : ev) {
        const uint32_t p = uint32_t(e.y) * 1280 + e.x;
        auto it = last.find(p);
        if (it != last.end() && e.timestamp - it->second.timestamp <= window_us &&
            (!samePolarity || it->second.polarity == e.polarity))
            ++n;
        last[p] = e;
    }
    return n;
}

}  // namespace

TEST(CameraToolsTest, ValuesReadBackAsSetAndRefusalsChangeNothing) {
    ManualCamera m;
    auto biases = m.tool(ToolType::Biases);
    auto infos = biases->getParameterInfos();
    ASSERT_EQ(infos.size(), 5u);
    for (const auto& [name, info] : infos) {
        EXPECT_EQ(info.type, int(ParameterType::Int));
        IntParameterInfo range;
        ASSERT_TRUE(biases->getIntParameterInfo(name, range));
        EXPECT_EQ(range.value, 0) << name;
        EXPECT_LT(range.min, 0) << name;
        EXPECT_GT(range.max, 0) << name;
    }
    int v = 99;
    ASSERT_TRUE(biases->setParameter("contrast_on", 17));
    ASSERT_TRUE(biases->getIntParameter("contrast_on", v));
    EXPECT_EQ(v, 17);
    EXPECT_FALSE(biases->setParameter("contrast_on", 51)) << "beyond the range";
    EXPECT_FALSE(biases->setParameter("no_such_bias", 1));
    EXPECT_FALSE(biases->setParameter("contrast_on", true)) << "wrong type";
    ASSERT_TRUE(biases->getIntParameter("contrast_on", v));
    EXPECT_EQ(v, 17);
    EXPECT_TRUE(biases->setParameter("contrast_on", -3.0f));
    ASSERT_TRUE(biases->getIntParameter("contrast_on", v));
    EXPECT_EQ(v, -3);
    EXPECT_FALSE(biases->setParameter("contrast_on", 2.5f)) << "integers take whole numbers";

    auto af = m.tool(ToolType::AntiFlicker);
    EnumParameterInfo modes;
    ASSERT_TRUE(af->getEnumParameterInfo("mode", modes));
    EXPECT_EQ(modes.values, (std::vector<std::string>{"band_stop", "band_pass"}));
    EXPECT_FALSE(af->setParameter("mode", std::string("notch")));
    EXPECT_TRUE(af->setParameter("mode", std::string("band_pass")));
    std::string mode;
    ASSERT_TRUE(af->getStringParameter("mode", mode));
    EXPECT_EQ(mode, "band_pass");
    EXPECT_FALSE(af->setParameter("low_frequency", 600)) << "low above high";
    bool on = true;
    ASSERT_TRUE(af->getBoolParameter("enable", on));
    EXPECT_FALSE(on);
}

TEST(CameraToolsTest, RegionOfInterestConfinesEventsAndRefusesWindowsOffTheSensor) {
    ManualCamera m;
    auto roi = m.tool(ToolType::RegionOfInterest);
    int x = -1;
    ASSERT_TRUE(roi->getIntParameter("width", x));
    EXPECT_EQ(x, 1280);
    EXPECT_FALSE(roi->setParameter("x", 1200)) << "1200 + 1280 leaves the sensor";
    ASSERT_TRUE(roi->getIntParameter("x", x));
    EXPECT_EQ(x, 0);
    ASSERT_TRUE(roi->setParameter("width", 200));
    ASSERT_TRUE(roi->setParameter("height", 100));
    EXPECT_FALSE(roi->setParameter("x", 1100)) << "1100 + 200 leaves the sensor";
    ASSERT_TRUE(roi->setParameter("x", 1000));
    ASSERT_TRUE(roi->setParameter("y", 50));
    ASSERT_TRUE(roi->getIntParameter("x", x));
    EXPECT_EQ(x, 1000);

    ASSERT_EQ(m.camera->start(), 0);
    auto before = m.stream(200000);
    ASSERT_TRUE(roi->setParameter("enable", true));
    auto inside = m.stream(300000);
    const PixelRect window{1000, 50, 200, 100};
    EXPECT_LT(insideCount(before, window), before.size() / 2)
        << "the window held most events anyway";
    ASSERT_GT(inside.size(), 1000u);
    EXPECT_EQ(insideCount(inside, window), inside.size());

    ASSERT_TRUE(roi->setParameter("enable", false));
    auto after = m.stream(100000);
    EXPECT_GT(after.size() - insideCount(after, window), 0u);
}

TEST(CameraToolsTest, RateControlCapsEverySecond) {
    ManualCamera m(2000000);
    auto erc = m.tool(ToolType::EventRateControl);
    ASSERT_TRUE(erc->setParameter("max_event_rate", 600000));
    ASSERT_TRUE(erc->setParameter("enable", true));
    ASSERT_EQ(m.camera->start(), 0);
    auto ev = m.stream(2000000);
    for (uint64_t s = 0; s < 2; ++s) {
        const size_t n = filterWindow(ev, s * 1000000, (s + 1) * 1000000).size();
        EXPECT_LE(n, 600000u) << "second " << s;
        EXPECT_GE(n, 590000u) << "second " << s << ": the limit, not far below it";
    }
    // Any window of slices, too.
    for (uint64_t t = 0; t + 100000 <= 2000000; t += 25000)
        ASSERT_LE(filterWindow(ev, t, t + 100000).size(), 60000u) << t;
    ASSERT_TRUE(erc->setParameter("enable", false));
    EXPECT_GT(m.stream(500000).size(), 900000u);
}

TEST(CameraToolsTest, AntiFlickerRemovesTheLampOnlyWhenItsBandCoversIt) {
    // The same scene twice: once as it is, once filtered.
    ManualCamera plain(1000000), filtered(1000000);
    auto af = filtered.tool(ToolType::AntiFlicker);
    ASSERT_TRUE(af->setParameter("low_frequency", 80));
    ASSERT_TRUE(af->setParameter("high_frequency", 150));
    ASSERT_TRUE(af->setParameter("enable", true));
    ASSERT_EQ(plain.camera->start(), 0);
    ASSERT_EQ(filtered.camera->start(), 0);
    const PixelRect lamp = plain.camera->lamp();
    auto a = filterWindow(plain.stream(600000), 100000, 600000);  // after two periods
    auto b = filterWindow(filtered.stream(600000), 100000, 600000);
    const size_t lampA = insideCount(a, lamp), lampB = insideCount(b, lamp);
    ASSERT_GT(lampA, 20000u);
    // What stays in the lamp's square is mostly the bars passing over it.
    EXPECT_LT(lampB, lampA / 20) << "the 100 Hz lamp stays";
    const size_t restA = a.size() - lampA, restB = b.size() - lampB;
    EXPECT_GT(restB, restA * 9 / 10) << "the filter ate the scene";

    // A band beside the lamp's frequency leaves it alone.
    ASSERT_TRUE(af->setParameter("high_frequency", 1000));
    ASSERT_TRUE(af->setParameter("low_frequency", 300));
    auto c = filtered.stream(300000);
    auto d = plain.stream(300000);
    EXPECT_GT(insideCount(filterWindow(c, 800000, 900000), lamp),
              insideCount(filterWindow(d, 800000, 900000), lamp) * 9 / 10);

    // band_pass keeps only the lamp.
    ASSERT_TRUE(af->setParameter("low_frequency", 80));
    ASSERT_TRUE(af->setParameter("high_frequency", 150));
    ASSERT_TRUE(af->setParameter("mode", std::string("band_pass")));
    auto e = filterWindow(filtered.stream(300000), 1000000, 1200000);
    ASSERT_GT(e.size(), 1000u);
    EXPECT_GT(insideCount(e, lamp), e.size() * 9 / 10);
}

TEST(CameraToolsTest, TrailFilterThinsBursts) {
    ManualCamera plain(1000000), filtered(1000000);
    auto trail = filtered.tool(ToolType::EventTrailFilter);
    ASSERT_TRUE(trail->setParameter("threshold", 1000));
    ASSERT_TRUE(trail->setParameter("enable", true));
    ASSERT_EQ(plain.camera->start(), 0);
    ASSERT_EQ(filtered.camera->start(), 0);
    auto a = plain.stream(300000);
    auto b = filtered.stream(300000);
    const size_t burstsA = repeats(a, 1000), burstsB = repeats(b, 1000);
    ASSERT_GT(burstsA, a.size() / 20) << "the scene has bursts";
    EXPECT_EQ(burstsB, 0u);
    EXPECT_LT(b.size(), a.size() - burstsA / 2);
    EXPECT_GT(b.size(), a.size() / 2);

    // polarity_change keeps a repeat of the other polarity.
    ASSERT_TRUE(trail->setParameter("type", std::string("polarity_change")));
    EXPECT_EQ(repeats(filtered.stream(300000), 1000, true), 0u);
}

TEST(CameraToolsTest, BiasesMoveTheRateAndTheOnShare) {
    auto measure = [](const std::string& bias, int value) {
        ManualCamera m(1000000);
        if (!bias.empty()) {
            EXPECT_TRUE(m.tool(ToolType::Biases)->setParameter(bias, value));
        }
        EXPECT_EQ(m.camera->start(), 0);
        return m.stream(300000);
    };
    const auto base = measure("", 0);
    const double baseShare = onShare(base);
    EXPECT_NEAR(baseShare, 0.5, 0.05);

    EXPECT_LT(onShare(measure("contrast_on", 25)), baseShare - 0.1);
    EXPECT_GT(onShare(measure("contrast_off", 25)), baseShare + 0.1);
    const double refractory = double(measure("refractory_period", 50).size()) / double(base.size());
    EXPECT_NEAR(refractory, 0.5, 0.08);
    const double gain = double(measure("pixel_gain", 50).size()) / double(base.size());
    EXPECT_NEAR(gain, 2.0, 0.2);
    EXPECT_GT(measure("noise_level", 50).size(), base.size() * 105 / 100);
    EXPECT_LT(measure("noise_level", -50).size(), base.size());
}

TEST(CameraToolsTest, TriggerChannelsSwitchTheirEdgesOnAndOff) {
    ManualCamera m;  // trigger period 100 ms
    std::mutex mutex;
    std::vector<EventTriggerIn> edges;
    const uint32_t id = m.camera->addTriggerInCallback([&](const EventTriggerIn& t) {
        std::lock_guard lock(mutex);
        edges.push_back(t);
    });
    EXPECT_NE(id, DvsCamera::kNoCallback);
    auto trig = m.tool(ToolType::TriggerIn);
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(300000);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(edges.empty()) << "no channel enabled";
    }
    ASSERT_TRUE(trig->setParameter("channel_0", true));
    m.stream(400000);
    std::vector<EventTriggerIn> got;
    {
        std::lock_guard lock(mutex);
        got.swap(edges);
    }
    ASSERT_GE(got.size(), 7u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].id, 0);
        EXPECT_EQ(got[i].timestamp % 50000, 0u);
        if (i > 0) {
            EXPECT_EQ(got[i].timestamp - got[i - 1].timestamp, 50000u);
            EXPECT_NE(got[i].polarity, got[i - 1].polarity) << "both edges, alternating";
        }
        EXPECT_EQ(got[i].polarity, got[i].timestamp % 100000 == 0 ? 1 : 0);
    }
    ASSERT_TRUE(trig->setParameter("channel_0", false));
    ASSERT_TRUE(trig->setParameter("channel_1", true));
    m.stream(200000);
    {
        std::lock_guard lock(mutex);
        ASSERT_FALSE(edges.empty());
        for (const auto& e : edges)
            EXPECT_EQ(e.id, 1);
        edges.clear();
    }
    m.camera->removeTriggerInCallback(id);
    m.stream(200000);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(edges.empty()) << "a removed callback is not called";
}

TEST(CameraToolsTest, ReplayOffersTheStreamToolsOnItsGeometryAndNoBiases) {
    ScratchDir dir;
    SyntheticOptions o;
    o.duration_us = 400000;
    o.eventsPerSecond = 500000;
    o.width = 640;
    o.height = 480;
    const std::string path = generate(dir, "small.raw", o);
    ManualCamera m(ManualCamera::ReplayOf{path});
    ASSERT_TRUE(m.camera);
    EXPECT_EQ(m.tool(ToolType::Biases), nullptr) << "a recording's events are already made";
    for (ToolType t : {ToolType::RegionOfInterest, ToolType::EventRateControl,
                       ToolType::EventTrailFilter, ToolType::AntiFlicker, ToolType::TriggerIn})
        EXPECT_NE(m.tool(t), nullptr) << int(t);
    EXPECT_EQ(m.tool(ToolType::Aps), nullptr);

    auto roi = m.tool(ToolType::RegionOfInterest);
    int width = 0;
    ASSERT_TRUE(roi->getIntParameter("width", width));
    EXPECT_EQ(width, 640) << "the recording's geometry";
    EXPECT_FALSE(roi->setParameter("x", 700));
    ASSERT_TRUE(roi->setParameter("width", 100));
    ASSERT_TRUE(roi->setParameter("height", 80));
    ASSERT_TRUE(roi->setParameter("x", 300));
    ASSERT_TRUE(roi->setParameter("y", 200));

    ASSERT_EQ(m.camera->start(), 0);
    const auto whole = m.stream(200000);
    ASSERT_TRUE(roi->setParameter("enable", true));
    const auto inside = m.stream(200000);
    const PixelRect window{300, 200, 100, 80};
    EXPECT_LT(insideCount(whole, window), whole.size() / 2);
    // Exactly the recorded events of the window, not merely fewer.
    auto reader = openReader(path);
    ASSERT_TRUE(reader);
    std::vector<Event2D> want;
    for (const Event2D& e : replayed(decodeAll(*reader), 200000, 400000).events)
        if (window.contains(e.x, e.y)) want.push_back(e);
    ASSERT_GT(want.size(), 100u);
    EXPECT_TRUE(inside == want) << inside.size() << " streamed, " << want.size() << " recorded";

    auto rate = m.tool(ToolType::EventRateControl);
    ASSERT_TRUE(roi->setParameter("enable", false));
    ASSERT_TRUE(rate->setParameter("max_event_rate", 100000));
    ASSERT_TRUE(rate->setParameter("enable", true));
    const auto capped = m.stream(1000000);
    EXPECT_LE(capped.size(), 101000u);
    EXPECT_GT(capped.size(), 90000u);
}
