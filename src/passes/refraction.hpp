#pragma once
// The refraction, the second half of the rain step: the lens water made
// visible: refraction, streak light, the inverted image inside drops and the
// water's emission.
#include "core/image_planes.hpp"
#include "core/rect.hpp"
#include "core/row_table.hpp"

namespace neonvale {

// The refraction of the rows [y0, y0 + water.height) of `scene`, in place:
// writes planes kRed, kGreen, kBlue and kEmission of those rows and reads no
// other plane of `scene`. `before` holds planes kRed, kGreen and kBlue of the
// scene's colour as it was before any row was refracted, at the scene's
// size. `water` holds planes kOffsetX, kOffsetY, kWater and kDrop of just
// these rows (its row r is row y0 + r of the scene), as paint_rain_rows
// leaves them. Every pixel ends with the values reference::refract gives it,
// provided the colour is finite and not negative and no water or drop value
// is -0 (painted ones never are).
void refract_rows(const ImagePlanes& scene, const ImagePlanes& before, const ImagePlanes& water, int y0);
// The same with the colour before the pass held row by row (see RowTable).
void refract_rows(const ImagePlanes& scene, const RowTable& before, const ImagePlanes& water, int y0);

// Every value of the colour before the pass that the small image inside
// drops can read from `pixels` of a width x height scene, whatever their
// offsets, as long as |offset x| <= offset_x and -above <= offset y <= below;
// with a margin of one row and one column on each side.
Rect lens_reads(int width, int height, const Rect& pixels, float offset_x, float above, float below);
// The first row the refracted sample of a pixel in row y can read, as long as
// offset y >= -above.
int first_row_refracted(int y, float above, int height);

}  // namespace neonvale
