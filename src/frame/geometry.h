// Outlines, areas and boxes of the area kinds, in image coordinates.
#pragma once

#include <vector>

#include "annoxml/frame.h"

namespace annoxml::detail {

// The four corners of the box spanned by two opposite corners, in any order.
std::vector<Point> RectangleOutline(Point first, Point third);

// Vertices on the circle rounded to 1/100 px, as many as keep every edge within 0.25 px of it
// (at least 8).
std::vector<Point> CircleOutline(Point center, double radius);

// Vertices on the ellipse whose axis runs from `axisStart` to `axisEnd` and whose other
// semi-axis is `otherRadius`, sampled like a circle of the larger semi-axis and rounded to
// 1/100 px.
std::vector<Point> EllipseOutline(Point axisStart, Point axisEnd, double otherRadius);

// Vertex count for a curve of radius `radius` sampled within 0.25 px, rounding included.
int OutlineVertexCount(double radius);

double ShoelaceArea(const std::vector<Point>& outline);
Box BoxOf(const std::vector<Point>& outline);

// The part of an outline inside the rectangle [0, width] x [0, height] (an outline clipped by
// each side in turn); empty when nothing is inside or a coordinate is not finite.
std::vector<Point> ClipToImage(const std::vector<Point>& outline, double width, double height);

// Distance of `point` from the line through `a` and `b` (from `a` when they coincide).
double DistanceFromLine(Point point, Point a, Point b);
double Distance(Point a, Point b);

}  // namespace annoxml::detail
