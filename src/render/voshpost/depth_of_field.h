// Depth of field: the thin-lens values its prepare derives, and the disc
// tables its splat spreads a pixel over.
#pragma once

#include <cstdint>

namespace vo::post {

// The lens after the prepare; distances are scene units times the scene
// scale s, radii are in pixels. "Limits" bound the range in focus.
struct DofLens {
  double s, s2;                            // scene scale and its square
  double f;                                // focal length
  double nearFocus, farFocus, focusPlane;  // scaled arguments
  double front, back;                      // lens diameters in front of and behind the focus
  double nearSq, farSq;                    // squared limits
  double nearLimit, farLimit;              // their square roots
  double v;                                // focused image distance
  double pixelsPerUnit;
  double nearest, farthest, nearestSq, farthestSq;
  double nearRadius, farRadius;  // largest radii in front and behind
  uint32_t tables;               // disc tables, numbered 1 .. tables
  uint32_t nearFlag, farFlag;    // the blur scales differ from 1
  double nearGain, nearOffset, nearThreshold;
  double farGain, farOffset, farThreshold;
  double aspect;  // the view's pixel aspect
};

// The blur radius in pixels of a point at distance d.
double DofRadius(const DofLens &lens, double d);

// A disc table: rows -rows .. rows, row dy spanning columns -half[dy + rows]
// .. half[dy + rows], the cells' weights row by row (summing to 200).
struct DofDisc {
  int32_t rows;
  int32_t *half;
  float *weight;
  uint32_t cells;
};

// Table number k for a pixel aspect (1: a midpoint circle, else an ellipse
// k wide and k x aspect high), kind 1 (cube of a Gaussian) or 0 (flat).
// False when out of memory; a made table is freed with DofDiscFree.
bool DofDiscMake(DofDisc *disc, uint32_t k, double aspect, int kind);
void DofDiscFree(DofDisc *disc);

}  // namespace vo::post
