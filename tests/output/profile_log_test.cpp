#include "output/profile_log.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "make-target/synthetic_target.h"
#include "util/format.h"
#include "output/icc_profile.h"
#include "util/cie.h"
#include "profile/compute_profile.h"
#include "support/temp_folder.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {
namespace {

const LocalTime kMarchFifth{2005, 3, 5, 14, 30, 0, 6, 0};

// What the log is written from, held by value for the record.
struct LogInputs {
    int targetType = 0;
    int reflective = 1;
    std::string description;
    std::string copyright;
    AdvancedOptions options;
    TargetLayout targetLayout;
    TargetMeasurement measurement;
    ProfileResult profile;

    ProfileRecord record() const {
        return {description, copyright, targetType, reflective, options, targetLayout, measurement, profile};
    }
};

std::string logText(const LogInputs& session, const LocalTime& time = kMarchFifth) {
    std::ostringstream out;
    EXPECT_EQ(writeProfileLog(out, session.record(), time), 0);
    return out.str();
}

// The lines of a log, checking on the way that every line ends with CR LF
// and no bare LF hides inside one.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line without CR LF: " << text.substr(start);
            break;
        }
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line) return i;
    ADD_FAILURE() << "no line \"" << line << "\"";
    return lines.size();
}

// A session with a Linear model set by hand, so that every figure of the
// tables is known in advance: colour patch i lands `colorOffset` away from
// its working value, gray patches land on theirs.
class HandSession {
public:
    // XYZ (or L*a*b*) = c0 + c1 R + c2 G + c3 B per component.
    static constexpr double kXyzModel[3][4] = {{10, 80, 5, 2}, {10, 10, 80, 5}, {8, 2, 5, 70}};
    static constexpr double kLabModel[3][4] = {{20, 30, 40, 10}, {1, 40, -30, -5}, {-2, 30, 20, -60}};

    explicit HandSession(int targetType, int colorSpace = CieLab, ColorTriple colorOffset = {0.0, 3.0, 4.0}) {
        session.targetType = targetType;
        session.targetLayout = makeTargetLayout(targetType);
        session.description = "Hand made";
        session.copyright = "(c) Tessaray";
        session.options.colorSpace = colorSpace;
        session.options.regressionModel = Linear;
        ProfileResult& r = session.profile;
        const auto& model = colorSpace == CieXyz ? kXyzModel : kLabModel;
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 4; ++j) r.linearCoefficients[k][j] = model[k][j];
        r.effectiveModel = Linear;

        const int grays = session.targetLayout.grayCount;
        const int colors = session.targetLayout.colorCount;
        for (int i = 0; i < grays; ++i) {
            const double v = (i + 1.0) / (grays + 1.0);
            r.grayLinear.push_back({v, v, v});
            session.measurement.grayMeasured[static_cast<std::size_t>(i)] = {v, v, v};
        }
        for (int i = 0; i < colors; ++i)  // distinct points, none on the gray axis
            r.colorLinear.push_back({0.1 + 0.8 * ((i * 37) % 101) / 101.0, 0.15 + 0.7 * ((i * 53) % 103) / 103.0,
                                     0.2 + 0.6 * ((i * 71) % 107) / 107.0});
        auto target = [&](const ColorTriple& p, const ColorTriple& offset, std::vector<ColorTriple>& xyz,
                          std::vector<ColorTriple>& lab) {
            ColorTriple m{};
            for (int k = 0; k < 3; ++k) m[k] = model[k][0] + model[k][1] * p[0] + model[k][2] * p[1] + model[k][3] * p[2];
            for (int k = 0; k < 3; ++k) m[k] += offset[k];
            xyz.push_back(colorSpace == CieXyz ? m : labToXyz(m));
            lab.push_back(colorSpace == CieXyz ? xyzToLab(m) : m);
        };
        for (const ColorTriple& p : r.grayLinear) target(p, {0.0, 0.0, 0.0}, r.workGrayXYZ, r.workGrayLab);
        for (const ColorTriple& p : r.colorLinear) target(p, colorOffset, r.workColorXYZ, r.workColorLab);
    }

    std::vector<std::string> lines(const LocalTime& time = kMarchFifth) const { return linesOf(logText(session, time)); }

    LogInputs session;
};

TEST(ProfileLog, OpeningLinesExactly) {
    HandSession hand(0);
    hand.session.copyright.clear();
    hand.session.description = "50% \\t scan";  // neither a conversion nor an escape in an argument
    hand.session.measurement.grayMeasured[0] = {0.03125, 0.5, 0.0};
    hand.session.measurement.grayMeasured[23] = {0.9, 0.99999, 1.0};
    const std::vector<std::string> lines = hand.lines();
    const std::vector<std::string> expected = {
        "Calivant - Scanner 1.0 Log",
        "5-Mar-2005",
        "",
        "Description: 50% \\t scan",
        "Copyright: ",
        "",
        "Target Type: IT8 Reflective",
        "",
        "Advanced Options:",
        "  Color Space: CIE Lab",
        "  Regression Type: Linear",
        "  Residuals not eliminated",
        "  No Target Image Contrast Stretch",
        "  No smoothing",
        "",
        // Lab model at (1, 0, 0): (50, 41, 28); (0, 1, 0): (60, -29, 18); (0, 0, 1): (30, -4, -62);
        // checked against Little CMS below.
        "Red Primary CIE xy (estimated): (0.516, 0.357)",
        "Green Primary CIE xy (estimated): (0.323, 0.443)",
        "Blue Primary CIE xy (estimated): (0.138, 0.152)",
        "",
        "Dmax patch RGB: (3.13%, 50.00%, 0.00%)",
        "Dmin patch RGB: (90.00%, 100.00%, 100.00%)",
        "",
        // IT8: no uniformity lines.
        "Gray Patches",
        "",
        "\tRMS",
        "\tUniform\tDelta",
        "Patch\tErr\tE",
    };
    ASSERT_GE(lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    EXPECT_EQ(lines[4].size(), 11u);
}

TEST(ProfileLog, PrimaryChromaticitiesAgainstLittleCms) {
    HandSession hand(0);
    const std::vector<std::string> lines = hand.lines();
    const char* names[3] = {"Red", "Green", "Blue"};
    for (int channel = 0; channel < 3; ++channel) {
        cmsCIELab lab{};
        lab.L = HandSession::kLabModel[0][0] + HandSession::kLabModel[0][channel + 1];
        lab.a = HandSession::kLabModel[1][0] + HandSession::kLabModel[1][channel + 1];
        lab.b = HandSession::kLabModel[2][0] + HandSession::kLabModel[2][channel + 1];
        cmsCIEXYZ xyz{};
        cmsLab2XYZ(cmsD50_XYZ(), &xyz, &lab);
        const double s = xyz.X + xyz.Y + xyz.Z;
        const std::string line = lines.at(15 + static_cast<std::size_t>(channel));
        double x = 0.0, y = 0.0;
        const std::string prefix = std::string(names[channel]) + " Primary CIE xy (estimated): (";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + prefix.size(), "%lf, %lf)", &x, &y), 2) << line;
        EXPECT_NEAR(x, xyz.X / s, 0.0006) << line;
        EXPECT_NEAR(y, xyz.Y / s, 0.0006) << line;
    }
}

TEST(ProfileLog, BlackPrimaryHasNoChromaticityInsteadOfNan) {
    HandSession hand(0, CieXyz);
    // Red clipped to 0 in all three components; green the D50 white.
    hand.session.profile.linearCoefficients = {{{0, -5, 96.42, 1}, {0, -5, 100, 1}, {0, -5, 82.49, 1}}};
    const std::vector<std::string> lines = hand.lines();
    EXPECT_EQ(lines.at(15), "Red Primary CIE xy (estimated): (0.000, 0.000)");
    EXPECT_EQ(lines.at(16), "Green Primary CIE xy (estimated): (0.346, 0.359)");
}

TEST(ProfileLog, DateLine) {
    HandSession hand(1);
    const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(hand.lines({1999, m, 31}).at(1), std::string("31-") + months[m - 1] + "-1999");
    EXPECT_EQ(hand.lines({2026, 1, 2}).at(1), "2-Jan-2026");
    // A clock without a valid month still gives a date, not a stray read.
    EXPECT_EQ(hand.lines({2026, 0, 2}).at(1), "2-0-2026");
    EXPECT_EQ(hand.lines({2026, 13, 2}).at(1), "2-13-2026");
}

TEST(ProfileLog, TargetTypeLines) {
    const struct {
        int type;
        int reflective;
        const char* line;
    } cases[] = {
        {0, 1, "Target Type: IT8 Reflective"},           {0, 0, "Target Type: IT8 Transmissive"},
        {1, 0, "Target Type: Macbeth ColorChecker"},     {2, 1, "Target Type: Macbeth ColorChecker DC"},
        {3, 0, "Target Type: Macbeth ColorChecker SG"},  {4, 1, "Target Type: HCT Reflective"},
        {4, 0, "Target Type: HCT Transmissive"},
    };
    for (const auto& c : cases) {
        HandSession hand(c.type);
        hand.session.reflective = c.reflective;
        EXPECT_EQ(hand.lines().at(6), c.line);
    }
}

TEST(ProfileLog, OptionLines) {
    HandSession hand(0, CieXyz);
    AdvancedOptions& o = hand.session.options;
    auto options = [&] {
        const std::vector<std::string> lines = hand.lines();
        return std::vector<std::string>(lines.begin() + 9, lines.begin() + 14);
    };
    o.regressionModel = Quadratic;
    o.eliminateResiduals = 1;
    o.stretch = 1;
    o.stretchDmax = 2.5;
    o.stretchDmin = 97.25;
    o.smoothing = SmoothingModerate;
    EXPECT_EQ(options(), (std::vector<std::string>{"  Color Space: CIE XYZ", "  Regression Type: Quadratic",
                                                   "  Residuals eliminated",
                                                   "  Target Image Contrast Stretch to 2.500 .. 97.250",
                                                   "  Medium smoothing"}));
    o.regressionModel = Cubic;
    EXPECT_EQ(options()[1], "  Regression Type: Cubic");
    o.smoothing = SmoothingLight;
    EXPECT_EQ(options()[4], "  Light smoothing");
    o.smoothing = SmoothingHeavy;
    EXPECT_EQ(options()[4], "  Heavy smoothing");
    // Values the dialog never stores still give a line.
    o.smoothing = 7;
    EXPECT_EQ(options()[4], "  Unknown smoothing");
    o.regressionModel = 3;
    EXPECT_EQ(options()[1], "  Regression Type: Unknown");

    // The ColorChecker is fitted quadratically even when Cubic is chosen.
    HandSession checker(1);
    checker.session.options.regressionModel = Cubic;
    EXPECT_EQ(checker.lines().at(10), "  Regression Type: Quadratic");
    checker.session.options.regressionModel = Linear;
    EXPECT_EQ(checker.lines().at(10), "  Regression Type: Linear");
}

TEST(ProfileLog, UniformityLinesOnlyForChartsWithBorders) {
    for (int type : {0, 1}) {
        HandSession hand(type);
        hand.session.measurement.whiteUniformity = 0.5;  // never shown for these charts
        const std::vector<std::string> lines = hand.lines();
        EXPECT_EQ(lines.at(20).rfind("Dmin patch RGB: (", 0), 0u);
        EXPECT_EQ(lines.at(21), "");
        EXPECT_EQ(lines.at(22), "Gray Patches");
    }
    for (int type : {2, 3, 4}) {
        HandSession hand(type);
        hand.session.measurement.whiteUniformity = 0.0123;
        hand.session.measurement.midGrayUniformity = 0.0;
        hand.session.measurement.blackUniformity = 0.061;
        const std::vector<std::string> lines = hand.lines();
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 21, lines.begin() + 27),
                  (std::vector<std::string>{"", "RMS White Uniformity Error: 1.23%", "RMS Gray Uniformity Error: 0.00%",
                                            "RMS Black Uniformity Error: 6.10%", "", "Gray Patches"}));
    }
}

TEST(ProfileLog, PatchNames) {
    const TargetLayout it8 = makeTargetLayout(0);
    EXPECT_EQ(grayPatchName(it8, 0), "23");
    EXPECT_EQ(grayPatchName(it8, 23), "0");
    EXPECT_EQ(colorPatchName(it8, 0), "A1");
    EXPECT_EQ(colorPatchName(it8, 18), "A19");
    EXPECT_EQ(colorPatchName(it8, 19), "B1");
    EXPECT_EQ(colorPatchName(it8, 227), "L19");
    const TargetLayout checker = makeTargetLayout(1);
    EXPECT_EQ(grayPatchName(checker, 0), "1");
    EXPECT_EQ(grayPatchName(checker, 5), "6");
    EXPECT_EQ(colorPatchName(checker, 17), "18");
    EXPECT_EQ(grayPatchName(makeTargetLayout(2), 12), "J6");
    EXPECT_EQ(colorPatchName(makeTargetLayout(2), 0), "B2");
    EXPECT_EQ(grayPatchName(makeTargetLayout(3), 0), "E6");
    EXPECT_EQ(colorPatchName(makeTargetLayout(3), 80), "M9");
    EXPECT_EQ(grayPatchName(makeTargetLayout(4), 0), "U28");
    EXPECT_EQ(grayPatchName(makeTargetLayout(4), 59), "B26");
    EXPECT_EQ(colorPatchName(makeTargetLayout(4), 0), "B02");
    EXPECT_EQ(grayPatchName(it8, 24), "");
    EXPECT_EQ(colorPatchName(checker, -1), "");
    EXPECT_EQ(colorPatchName(makeTargetLayout(4), 444), "");
}

// Independent figures: Little CMS converts to L*a*b* (its constants differ
// from ours only in the linear segment, which these colours never reach) and
// measures the CIE 1976 difference.
double oracleDeltaE(const ColorTriple& xyzA, const ColorTriple& xyzB) {
    auto lab = [](const ColorTriple& v) {
        const cmsCIEXYZ xyz{v[0] / 100.0, v[1] / 100.0, v[2] / 100.0};
        cmsCIELab out{};
        cmsXYZ2Lab(cmsD50_XYZ(), &out, &xyz);
        return out;
    };
    const cmsCIELab a = lab(xyzA);
    const cmsCIELab b = lab(xyzB);
    return cmsDeltaE(&a, &b);
}

TEST(ProfileLog, XyzTablesAgainstAnIndependentComputation) {
    HandSession hand(0, CieXyz, {3.0, 4.0, 0.0});
    LogInputs& s = hand.session;
    for (std::size_t p = 0; p < 24; ++p) s.measurement.grayDeviation[p] = 0.001 * static_cast<double>(p);
    for (std::size_t i = 0; i < 228; ++i) s.measurement.colorDeviation[i] = 0.01;
    const std::vector<std::string> lines = hand.lines();

    const std::size_t gray = indexOf(lines, "Gray Patches");
    EXPECT_EQ(lines.at(gray + 2), "\tRMS\tRMS");
    EXPECT_EQ(lines.at(gray + 3), "\tUniform\tRegress\tDelta");
    EXPECT_EQ(lines.at(gray + 4), "Patch\tErr\tErr\t E");
    for (std::size_t i = 0; i < 24; ++i) {
        // Gray order runs against the IT8 sampling order of the deviations.
        EXPECT_EQ(lines.at(gray + 5 + i),
                  formatText("%d\t%2f\t0.000\t0.000", {static_cast<int>(23 - i), 255.0 * (0.001 * static_cast<double>(23 - i))}));
    }
    EXPECT_EQ(lines.at(gray + 29), "");

    const std::size_t color = indexOf(lines, "Color Patches");
    EXPECT_EQ(color, gray + 30);
    EXPECT_EQ(lines.at(color + 4), "Patch\tErr\tErr\tE");
    double deltaESum = 0.0, deltaEMax = 0.0;
    for (std::size_t i = 0; i < 228; ++i) {
        const std::vector<std::string> f = splitTabs(lines.at(color + 5 + i));
        ASSERT_EQ(f.size(), 4u);
        EXPECT_EQ(f[0], colorPatchName(s.targetLayout, static_cast<int>(i)));
        EXPECT_EQ(f[1], "2.55");
        EXPECT_EQ(f[2], "5.000");
        const ColorTriple& target = s.profile.workColorXYZ[i];
        const ColorTriple model{target[0] - 3.0, target[1] - 4.0, target[2]};
        const double de = oracleDeltaE(model, target);
        EXPECT_NEAR(std::stod(f[3]), de, 0.0005 + 1e-9) << lines.at(color + 5 + i);
        deltaESum += de;
        deltaEMax = std::max(deltaEMax, de);
    }
    const std::size_t summary = color + 5 + 228;
    EXPECT_EQ(lines.at(summary), "");
    // One sum over both tables divided by both counts: 5 x 228 / 252.
    EXPECT_EQ(lines.at(summary + 1), "Average RMS Error = 4.52");
    EXPECT_EQ(lines.at(summary + 2), "Max RMS Error = 5.00");
    EXPECT_NEAR(std::stod(lines.at(summary + 3).substr(18)), deltaESum / 252.0, 0.005 + 1e-9);
    EXPECT_EQ(lines.at(summary + 3).substr(0, 18), "Average Delta E = ");
    EXPECT_NEAR(std::stod(lines.at(summary + 4).substr(14)), deltaEMax, 0.005 + 1e-9);
    EXPECT_EQ(lines.size(), summary + 5);
}

TEST(ProfileLog, LabTablesHaveThreeColumnsAndTwoSummaryLines) {
    HandSession hand(3, CieLab, {0.0, 3.0, 4.0});
    LogInputs& s = hand.session;
    for (std::size_t p = 0; p < 15; ++p) s.measurement.grayDeviation[p] = 0.001 * static_cast<double>(p);
    const std::vector<std::string> lines = hand.lines();
    const std::size_t gray = indexOf(lines, "Gray Patches");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(gray) + 2,
                                       lines.begin() + static_cast<std::ptrdiff_t>(gray) + 5),
              (std::vector<std::string>{"\tRMS", "\tUniform\tDelta", "Patch\tErr\tE"}));
    // SG keeps its gray deviations in gray order.
    EXPECT_EQ(lines.at(gray + 5), "E6\t0.00\t0.000");
    EXPECT_EQ(lines.at(gray + 6), "J5\t0.26\t0.000");
    EXPECT_EQ(lines.at(gray + 19), "E5\t3.57\t0.000");
    const std::size_t color = indexOf(lines, "Color Patches");
    EXPECT_EQ(lines.at(color + 4), "Patch\tErr\tE");
    EXPECT_EQ(lines.at(color + 5), "B2\t0.00\t5.000");
    const std::size_t summary = color + 5 + 81;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(summary), lines.end()),
              (std::vector<std::string>{"", "Average Delta E = 4.22", "Max Delta E = 5.00"}));  // 5 x 81 / 96
}

TEST(ProfileLog, EliminatedResidualsLandOnEveryPatch) {
    for (int space : {CieLab, CieXyz}) {
        HandSession hand(1, space, {0.0, 3.0, 4.0});
        hand.session.options.eliminateResiduals = 1;
        if (space == CieXyz) {
            // A model clipped at 0: the residual carries the whole negative part.
            hand.session.profile.linearCoefficients[2] = {-40, 2, 5, 7};
        }
        const std::vector<std::string> lines = hand.lines();
        for (std::size_t i = indexOf(lines, "Gray Patches") + 5; i < lines.size() - 3; ++i) {
            if (lines[i].empty() || lines[i] == "Color Patches" || lines[i].find('\t') == 0 ||
                lines[i].rfind("Patch\t", 0) == 0)
                continue;
            const std::vector<std::string> f = splitTabs(lines[i]);
            for (std::size_t k = 2; k < f.size(); ++k) EXPECT_EQ(f[k], "0.000") << lines[i];
        }
        EXPECT_EQ(lines.back(), "Max Delta E = 0.00");
    }
}

TEST(ProfileLog, NothingWrittenWithoutAComputedProfile) {
    LogInputs session;
    session.targetLayout = makeTargetLayout(0);
    std::ostringstream out;
    EXPECT_EQ(writeProfileLog(out, session.record(), kMarchFifth), 1);
    EXPECT_TRUE(out.str().empty());

    HandSession hand(4);
    hand.session.targetLayout = makeTargetLayout(3);  // changed after the computation
    EXPECT_EQ(writeProfileLog(out, hand.session.record(), kMarchFifth), 1);
    EXPECT_TRUE(out.str().empty());
}

// Accepts a fixed number of bytes, then fails every write.
class ShortBuffer : public std::streambuf {
public:
    explicit ShortBuffer(std::size_t room) : room_(room) {}
    std::string taken;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const auto count = std::min<std::size_t>(room_, static_cast<std::size_t>(n));
        taken.append(s, count);
        room_ -= count;
        return static_cast<std::streamsize>(count);
    }
    int_type overflow(int_type c) override {
        if (room_ == 0 || traits_type::eq_int_type(c, traits_type::eof())) return traits_type::eof();
        taken.push_back(traits_type::to_char_type(c));
        --room_;
        return c;
    }

private:
    std::size_t room_;
};

TEST(ProfileLog, FailedWriteIsReported) {
    HandSession hand(1);
    const std::string whole = logText(hand.session);
    ShortBuffer buffer(100);
    std::ostream out(&buffer);
    EXPECT_EQ(writeProfileLog(out, hand.session.record(), kMarchFifth), 1);
    EXPECT_EQ(buffer.taken, whole.substr(0, 100));
}

}  // namespace
}  // namespace calivant
