// The tables of an automatic choice against the model they were sampled
// from, read back through Little CMS: a known shaper/matrix and a known
// mixing model, in the form written for them and in the classic form.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "make-target/synthetic_target.h"
#include "output/icc_profile.h"
#include "profile/fitted_table.h"
#include "util/delta_e.h"

namespace calivant {
namespace {

FittedModel knownModel(FitModel kind) {
    FittedModel m;
    m.model = kind;
    MatrixShaper& s = kind == FitModel::MixingShaper ? m.mixing.shaper : m.shaper;
    const double gammas[3] = {2.0, 2.2, 2.4};
    for (int c = 0; c < 3; ++c) {
        ShaperCurve& curve = s.curves[static_cast<std::size_t>(c)];
        curve.gamma = gammas[c];
        curve.offset = -0.01;
        curve.weights[2] = 0.05;
    }
    s.matrix = {{{41.2, 35.8, 19.4}, {21.3, 71.5, 7.2}, {1.9, 11.9, 68.7}}};
    if (kind == FitModel::MixingShaper) m.mixing.mix = {{{0.87, 0.05, 0.08}, {0.04, 0.89, 0.07}, {0.03, 0.06, 0.91}}};
    return m;
}

// Mean CIEDE2000 of the profile's A2B1 against the model on random device
// values, Little CMS applying the tables.
double tableError(const FittedModel& model, const FittedTableForm& form) {
    auto result = std::make_unique<ProfileResult>();
    AdvancedOptions options;
    options.regressionModel = Automatic;
    if (buildFittedTables(model, form, {}, {}, options, result->colorimetric, *result) != 0) return 1e9;
    result->perceptual = result->colorimetric;
    result->fittedModel = std::make_shared<FittedModel>(model);
    result->tableForm = form;
    std::vector<std::uint8_t> bytes;
    if (buildIccProfile({"exact", "", form.connectionSpace, 1, options.clutSize}, *result, LocalTime{2026, 1, 1},
                        bytes) != 0)
        return 1e9;
    cmsHPROFILE profile = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t =
        cmsCreateTransform(profile, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    // Colours the device can show: values whose mix lies within the curves'
    // range, as every colour of a chart does.
    const Matrix3 unmix = model.mixesChannels() ? inverse(model.mixing.mix) : Matrix3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.1, 0.95);
    double sum = 0.0;
    int count = 0;
    while (count < 1000) {
        const ColorTriple x{unit(random), unit(random), unit(random)};
        cmsUInt16Number in[3];
        bool inside = true;
        for (std::size_t r = 0; r < 3; ++r) {
            const double d = unmix[r][0] * x[0] + unmix[r][1] * x[1] + unmix[r][2] * x[2];
            inside = inside && d >= 0.0 && d <= 1.0;
            in[r] = static_cast<cmsUInt16Number>(std::lround(std::clamp(d, 0.0, 1.0) * 65535.0));
        }
        if (!inside) continue;
        ++count;
        cmsCIELab got;
        cmsDoTransform(t, in, &got, 1);
        sum += deltaE2000({got.L, got.a, got.b}, model.lab({in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0}));
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(lab);
    cmsCloseProfile(profile);
    return sum / count;
}

// The shaper/matrix is carried up to the 16-bit XYZ encoding's own steps
// (about 0.004 on these colours), twice as closely as by L*a*b* tables on
// lightness axes; the mixing model, which no per-channel input curve can
// unmix, about as closely as the format carries a true device of its kind.
TEST(FittedTable, CarriesTheModelAsExactlyAsTheFormatAllows) {
    const FittedModel shaper = knownModel(FitModel::ShaperMatrix);
    const double written = tableError(shaper, fittedTableForm(FitModel::ShaperMatrix));
    EXPECT_LT(written, 0.006);
    EXPECT_LT(written, 0.6 * tableError(shaper, FittedTableForm{}));
    EXPECT_LT(tableError(knownModel(FitModel::MixingShaper), fittedTableForm(FitModel::MixingShaper)), 0.035);
}

}  // namespace
}  // namespace calivant
