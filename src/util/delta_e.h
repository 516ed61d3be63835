#pragma once
// CIEDE2000 colour difference (CIE 142-2001, kL = kC = kH = 1): the error
// measure of the model choice and of the accuracy figures in the log.

#include "util/cie.h"

namespace calivant {

double deltaE2000(const CieTriple& lab1, const CieTriple& lab2);

}  // namespace calivant
