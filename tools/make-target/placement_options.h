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
// The corners file holds one line, "corners X,Y,X,Y,X,Y,X,Y": top-left,
// top-right, bottom-right, bottom-left of the layout's frame, x right and y
// down, 0,0 the centre of the top-left pixel, which is what the command
// line's --corners takes.

#include <CLI/CLI.hpp>

#include <map>
#include <string>
#include <vector>

#include "make-target/placement.h"

namespace calivant {

class PlacementArguments {
public:
    void add(CLI::App& app) {
        const std::map<std::string, BackgroundKind> kinds = {
            {"flat", BackgroundKind::Flat}, {"noisy", BackgroundKind::Noisy}, {"striped", BackgroundKind::Striped}};
        options_ = {
            app.add_option("--chart-size", chartSize_, "Placed chart's frame in pixels, along its width and height")
                ->delimiter(',')->expected(2)->type_name("W,H"),
            app.add_option("--center", center_, "Placed chart's centre in pixels, x right, y down")
                ->delimiter(',')->expected(2)->type_name("X,Y"),
            app.add_option("--angle", placement_.angle, "Placed chart turned counter-clockwise by degrees"),
            app.add_flag("--mirror", placement_.mirror, "Placed chart seen from the back"),
            app.add_option("--keystone", placement_.keystone, "Placed chart's top edge shorter by this fraction")
                ->check(CLI::Range(-kMaxKeystone, kMaxKeystone)),
            app.add_option("--background", placement_.background, "Around the placed chart: flat, noisy, striped")
                ->transform(CLI::CheckedTransformer(kinds, CLI::ignore_case)),
            app.add_option("--background-level", placement_.backgroundLevel, "Device value of the background")
                ->check(CLI::Range(0.0, 1.0)),
            app.add_option("--blur", placement_.blur, "Gaussian blur of the placed picture, sigma in pixels")
                ->check(CLI::Range(0.0, kMaxBlur)),
            app.add_option("--gradient-angle", placement_.gradientAngle,
                           "Direction of the light fall-off, degrees counter-clockwise from left to right"),
            app.add_option("--out-corners", outCorners_, "Corners file (default: the image's name with .corners)"),
        };
    }

    bool given() const {
        for (const CLI::Option* option : options_)
            if (option->count() > 0) return true;
        return false;
    }

    ChartPlacement placement() const {
        ChartPlacement p = placement_;
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

private:
    ChartPlacement placement_;
    std::vector<double> chartSize_;
    std::vector<double> center_;
    std::string outCorners_;
    std::vector<CLI::Option*> options_;
};

}  // namespace calivant
