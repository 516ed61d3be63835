#pragma once
// The make-target options that place the chart inside a larger picture.
// Any of them switches placement on; the picture's size, noise and light
// fall-off are make-target's own --width, --height, --noise and --gradient.
//
//   make-target --target hct --width 3000 --height 2250 --chart-size 1400,1060
//       --center 1600,1000 --angle 93 --keystone 0.04 --background striped
//       --blur 1.5 --gradient 0.3 --gradient-angle 45 --noise 0.01
//       --out-image placed.tif        (true corners in placed.corners)
//
// The flaws of real pictures and the printed style compose with these:
//
//   make-target --target colorchecker --width 4000 --height 3000 --style printed
//       --angle 12 --keystone 0.1 --keystone-left -0.08 --barrel 0.015
//       --vignetting 0.3 --cast 1,0.85,0.6 --glare 0.8,0.3,0.4 --shadow 0.4,0.5,0.5,60
//       --occluder thumb,2 --background busy --sharpen 1 --jpeg 80 --second passport
//       --device camera --out-image photo.tif
//
//   make-target --target it8 --width 2400 --height 1700 --style printed
//       --reference-in R080505.it8 --scan-crop -0.3,0.5,0.2,-0.4 --scan-border lid
//       --out-image scan.tif
//
// The corners file holds one line, "corners X,Y,X,Y,X,Y,X,Y": top-left,
// top-right, bottom-right, bottom-left of the layout's frame, x right and y
// down, 0,0 the centre of the top-left pixel, which is what the command
// line's --corners takes.

#include <CLI/CLI.hpp>

#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "make-target/device_kinds.h"
#include "make-target/placement.h"

namespace calivant {

class PlacementArguments {
public:
    void add(CLI::App& app) {
        const std::map<std::string, BackgroundKind> kinds = {
            {"flat", BackgroundKind::Flat},       {"noisy", BackgroundKind::Noisy}, {"striped", BackgroundKind::Striped},
            {"busy", BackgroundKind::Busy},       {"lid", BackgroundKind::Lid}};
        const std::map<std::string, ChartStyle> styles = {{"plain", ChartStyle::Plain}, {"printed", ChartStyle::Printed}};
        const std::map<std::string, ScanBorder> borders = {{"none", ScanBorder::None},   {"white", ScanBorder::White},
                                                           {"gray", ScanBorder::Gray},   {"black", ScanBorder::Black},
                                                           {"lid", ScanBorder::Lid}};
        options_ = {
            app.add_option("--chart-size", chartSize_, "Placed chart's frame in pixels, along its width and height")
                ->delimiter(',')->expected(2)->type_name("W,H"),
            app.add_option("--center", center_, "Placed chart's centre in pixels, x right, y down")
                ->delimiter(',')->expected(2)->type_name("X,Y"),
            app.add_option("--angle", placement_.angle, "Placed chart turned counter-clockwise by degrees"),
            app.add_flag("--mirror", placement_.mirror, "Placed chart seen from the back"),
            app.add_option("--keystone", placement_.keystone, "Placed chart's top edge shorter by this fraction")
                ->check(CLI::Range(-kMaxKeystone, kMaxKeystone)),
            app.add_option("--background", placement_.background,
                           "Around the placed chart: flat, noisy, striped, busy (clutter of shapes and text), lid")
                ->transform(CLI::CheckedTransformer(kinds, CLI::ignore_case)),
            app.add_option("--background-level", placement_.backgroundLevel, "Device value of the background")
                ->check(CLI::Range(0.0, 1.0)),
            app.add_option("--blur", placement_.blur, "Gaussian blur of the placed picture, sigma in pixels")
                ->check(CLI::Range(0.0, kMaxBlur)),
            app.add_option("--gradient-angle", placement_.gradientAngle,
                           "Direction of the light fall-off, degrees counter-clockwise from left to right"),
            app.add_option("--out-corners", outCorners_, "Corners file (default: the image's name with .corners)"),
            app.add_option("--style", placement_.style,
                           "plain: the layout's cells alone (default); printed: every cell a patch, the card, "
                           "text and marks as the chart is printed")
                ->transform(CLI::CheckedTransformer(styles, CLI::ignore_case)),
            app.add_option("--keystone-left", placement_.keystoneLeft, "Placed chart's left edge shorter by this fraction")
                ->check(CLI::Range(-kMaxKeystone, kMaxKeystone)),
            app.add_option("--barrel", placement_.barrel,
                           "Lens barrel distortion: the picture's corner pulled in by this fraction (0..0.05)")
                ->check(CLI::Range(0.0, kMaxBarrel)),
            app.add_option("--vignetting", placement_.vignetting, "Lens fall-off: light at the picture's corners 1 - F")
                ->check(CLI::Range(0.0, 0.95)),
            app.add_option("--cast", cast_, "Colour cast (no white balance): linear gains of red, green, blue")
                ->delimiter(',')->expected(3)->type_name("R,G,B"),
            app.add_option("--exposure", placement_.exposure,
                           "Linear light scaled by this (0.2 with --device linear: a dark gamma-1 exposure)")
                ->check(CLI::Range(0.001, 4.0)),
            app.add_option("--glare", glare_,
                           "Glare spot adding S x white at layout point U,T (0..1 across the frame), a Gaussian "
                           "of R patch pitches (default 0.5,0.5,1)")
                ->delimiter(',')->expected(1, 4)->type_name("S[,U,T[,R]]"),
            app.add_option("--shadow", shadow_,
                           "Shadow: light falls by D left of the line through layout point U,T at A degrees "
                           "(default 0.5,0.5,0)")
                ->delimiter(',')->expected(1, 4)->type_name("D[,U,T[,A]]"),
            app.add_option("--occluder", occluder_,
                           "thumb or clip over the patch at corner C (0 top-left, 1 top-right, 2 bottom-right, "
                           "3 bottom-left of the layout; default 0)")
                ->type_name("KIND[,C]"),
            app.add_option("--sharpen", sharpen_, "Camera sharpening halos: unsharp mask amount, sigma in pixels (1.5)")
                ->delimiter(',')->expected(1, 2)->type_name("A[,R]"),
            app.add_option("--jpeg", placement_.jpegQuality,
                           "Through JPEG at this quality (8 bits); a .jpg --out-image is written as the JPEG")
                ->check(CLI::Range(1, 100)),
            app.add_option("--second", second_,
                           "passport: a ColorChecker Passport's second page above the chart; or another chart "
                           "(it8, colorchecker, ...) beside it at the same scale")
                ->type_name("KIND"),
            app.add_option("--scan-crop", scanMargins_,
                           "Cropped scan: the frame's distance from the left, top, right and bottom edges in "
                           "patch pitches, negative cutting the chart (to -0.5); the picture's size sets the chart's")
                ->delimiter(',')->expected(4)->type_name("L,T,R,B"),
            app.add_option("--scan-border", placement_.scanBorder,
                           "Around a cropped scan's chart: none (its card to the edges), white, gray, black, lid")
                ->transform(CLI::CheckedTransformer(borders, CLI::ignore_case)),
        };
        app.add_option("--threads", placement_.workers, "Threads that render a placed chart (0: every core)");
    }

    bool given() const {
        for (const CLI::Option* option : options_)
            if (option->count() > 0) return true;
        return false;
    }

    // The placement, or an error message for a malformed value.
    std::string placement(ChartPlacement& out) const {
        out = placement();
        if (!occluder_.empty()) {
            const std::size_t comma = occluder_.find(',');
            const std::string kind = occluder_.substr(0, comma);
            if (kind != "thumb" && kind != "clip") return "--occluder takes thumb or clip";
            out.occluder = kind == "thumb" ? OccluderKind::Thumb : OccluderKind::Clip;
            if (comma != std::string::npos) {
                const std::string corner = occluder_.substr(comma + 1);
                if (corner.size() != 1 || corner[0] < '0' || corner[0] > '3') return "--occluder's corner is 0..3";
                out.occludedCorner = corner[0] - '0';
            }
        }
        if (!second_.empty()) {
            if (second_ == "passport") {
                out.second = SecondChart::PassportPage;
            } else {
                const auto at = targetNames().find(second_);
                if (at == targetNames().end()) return "--second takes passport or a target type";
                out.second = SecondChart::OtherChart;
                out.secondType = at->second;
            }
        }
        return {};
    }

    ChartPlacement placement() const {
        ChartPlacement p = placement_;
        if (cast_.size() == 3) p.cast = {cast_[0], cast_[1], cast_[2]};
        if (!glare_.empty()) {
            p.glare = glare_[0];
            if (glare_.size() >= 3) p.glareU = glare_[1], p.glareT = glare_[2];
            if (glare_.size() == 4) p.glareRadius = glare_[3];
        }
        if (!shadow_.empty()) {
            p.shadow = shadow_[0];
            if (shadow_.size() >= 3) p.shadowU = shadow_[1], p.shadowT = shadow_[2];
            if (shadow_.size() == 4) p.shadowAngle = shadow_[3];
        }
        if (!sharpen_.empty()) {
            p.sharpen = sharpen_[0];
            if (sharpen_.size() == 2) p.sharpenRadius = sharpen_[1];
        }
        if (scanMargins_.size() == 4) {
            p.scanCrop = true;
            p.scanMargins = {scanMargins_[0], scanMargins_[1], scanMargins_[2], scanMargins_[3]};
        }
        if (chartSize_.size() == 2) {
            p.chartWidth = chartSize_[0];
            p.chartHeight = chartSize_[1];
        }
        if (center_.size() == 2) {
            p.centerX = center_[0];
            p.centerY = center_[1];
        }
        return p;
    }

    std::string cornersPath(const std::string& image) const {
        if (!outCorners_.empty()) return outCorners_;
        const std::size_t slash = image.find_last_of("/\\");
        const std::size_t dot = image.rfind('.');
        const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        return (hasExtension ? image.substr(0, dot) : image) + ".corners";
    }

    // The command line's names of the target types.
    static const std::map<std::string, int>& targetNames() {
        static const std::map<std::string, int> names = {
            {"it8", 0}, {"colorchecker", 1}, {"colorchecker-dc", 2}, {"colorchecker-sg", 3}, {"hct", 4}};
        return names;
    }

private:
    std::vector<double> cast_;
    std::vector<double> glare_;
    std::vector<double> shadow_;
    std::vector<double> sharpen_;
    std::vector<double> scanMargins_;
    std::string occluder_;
    std::string second_;
    ChartPlacement placement_;
    std::vector<double> chartSize_;
    std::vector<double> center_;
    std::string outCorners_;
    std::vector<CLI::Option*> options_;
};

// The make-target arguments that render this picture again (without the
// output and reference options), for a benchmark's report of a case.
inline std::string placementArguments(const SyntheticTargetOptions& o, const ChartPlacement& p) {
    auto number = [](double v) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, v).ptr;
        return std::string(text, end);
    };
    auto list = [&](std::initializer_list<double> values) {
        std::string out;
        for (double v : values) out += (out.empty() ? "" : ",") + number(v);
        return out;
    };
    std::string target;
    for (const auto& [name, type] : PlacementArguments::targetNames())
        if (type == o.targetType) target = name;
    static const char* const kBackgrounds[] = {"flat", "noisy", "striped", "busy", "lid"};
    static const char* const kBorders[] = {"none", "white", "gray", "black", "lid"};
    std::string a = "--target " + target + " --width " + std::to_string(o.width) + " --height " +
                    std::to_string(o.height) + " --bits " + std::to_string(o.bitsPerSample) + " --device " +
                    std::string(deviceKindName(o.device.kind)) + " --seed " + std::to_string(o.seed);
    if (o.noiseSigma > 0.0) a += " --noise " + number(o.noiseSigma);
    if (o.gradient > 0.0) a += " --gradient " + number(o.gradient) + " --gradient-angle " + number(p.gradientAngle);
    if (p.style == ChartStyle::Printed) a += " --style printed";
    if (p.scanCrop) {
        a += " --scan-crop " + list({p.scanMargins[0], p.scanMargins[1], p.scanMargins[2], p.scanMargins[3]}) +
             " --scan-border " + kBorders[static_cast<int>(p.scanBorder)];
    } else {
        a += " --chart-size " + list({p.chartWidth, p.chartHeight}) + " --center " + list({p.centerX, p.centerY});
    }
    a += " --angle " + number(p.angle) + " --background " + kBackgrounds[static_cast<int>(p.background)] +
         " --background-level " + number(p.backgroundLevel);
    if (p.mirror) a += " --mirror";
    if (p.keystone != 0.0) a += " --keystone " + number(p.keystone);
    if (p.keystoneLeft != 0.0) a += " --keystone-left " + number(p.keystoneLeft);
    if (p.blur > 0.0) a += " --blur " + number(p.blur);
    if (p.barrel > 0.0) a += " --barrel " + number(p.barrel);
    if (p.vignetting > 0.0) a += " --vignetting " + number(p.vignetting);
    if (p.cast != std::array<double, 3>{1.0, 1.0, 1.0}) a += " --cast " + list({p.cast[0], p.cast[1], p.cast[2]});
    if (p.exposure != 1.0) a += " --exposure " + number(p.exposure);
    if (p.glare > 0.0) a += " --glare " + list({p.glare, p.glareU, p.glareT, p.glareRadius});
    if (p.shadow > 0.0) a += " --shadow " + list({p.shadow, p.shadowU, p.shadowT, p.shadowAngle});
    if (p.occluder != OccluderKind::None)
        a += std::string(" --occluder ") + (p.occluder == OccluderKind::Thumb ? "thumb," : "clip,") +
             std::to_string(p.occludedCorner);
    if (p.sharpen > 0.0) a += " --sharpen " + list({p.sharpen, p.sharpenRadius});
    if (p.jpegQuality > 0) a += " --jpeg " + std::to_string(p.jpegQuality);
    if (p.second == SecondChart::PassportPage) a += " --second passport";
    for (const auto& [name, type] : PlacementArguments::targetNames())
        if (p.second == SecondChart::OtherChart && type == p.secondType) a += " --second " + name;
    return a;
}

}  // namespace calivant
