// SkyPlot: the live view's polar plot of the satellites. The stored template
// carries the grid; each satellite with a known position is a disc in the
// colour of its channel's status, labelled with its PRN.
#pragma once

#include <QImage>
#include <QString>

#include "ZorvikDll.h"

namespace SkyPlot {

constexpr int kDiscSize = 24;

// Registers the live view's stored pictures (they live in a static library,
// whose resources are not registered by themselves).
void EnsureAssets();

// Where the template picture is read from (a resource of the program).
extern QString TemplatePath;

// Reads the template picture from TemplatePath; a null image if it cannot.
QImage LoadTemplate();
// The template as first read (decoded once: the drawings copy it).
const QImage& Template();

// A copy of the template picture at its own size (512 x 384); a null image
// if the template is null.
QImage RenderBackground(const QImage& sky_template = Template());
// The template plus one disc per channel whose status is not 0 and whose
// position is known, in channel order (a later disc covers an earlier one).
// A null image if the template is null.
QImage Render(const ParseNMEAInfo& info, const QImage& sky_template = Template());

}  // namespace SkyPlot
