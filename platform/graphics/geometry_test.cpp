#include "platform/graphics/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform;

TEST(Geometry, NullEmptyAndInfiniteRects) {
  EXPECT_TRUE(CGRectIsNull(CGRectNull));
  EXPECT_TRUE(CGRectIsEmpty(CGRectNull));
  EXPECT_FALSE(CGRectIsNull(CGRectZero));
  EXPECT_TRUE(CGRectIsEmpty(CGRectZero));
  EXPECT_TRUE(CGRectIsEmpty(CGRectMake(5, 5, 0, 10)));
  EXPECT_FALSE(CGRectIsEmpty(CGRectMake(5, 5, -1, -1)));
  EXPECT_TRUE(CGRectIsInfinite(CGRectInfinite));
  EXPECT_FALSE(CGRectIsEmpty(CGRectInfinite));
  EXPECT_EQ(CGRectGetWidth(CGRectNull), 0);
}

TEST(Geometry, NegativeSizesReadThroughTheStandardisedRect) {
  const CGRect r = CGRectMake(10, 20, -4, -6);
  EXPECT_EQ(CGRectGetMinX(r), 6);
  EXPECT_EQ(CGRectGetMaxX(r), 10);
  EXPECT_EQ(CGRectGetMinY(r), 14);
  EXPECT_EQ(CGRectGetMaxY(r), 20);
  EXPECT_EQ(CGRectGetMidX(r), 8);
  EXPECT_EQ(CGRectGetWidth(r), 4);
  EXPECT_EQ(CGRectGetHeight(r), 6);
  EXPECT_EQ(CGRectStandardize(r), CGRectMake(6, 14, 4, 6));
  EXPECT_TRUE(CGRectEqualToRect(r, CGRectMake(6, 14, 4, 6)));
  EXPECT_FALSE(CGRectEqualToRect(r, CGRectNull));
  EXPECT_TRUE(CGRectEqualToRect(CGRectNull, CGRectOffset(CGRectNull, 1, 1)));
}

TEST(Geometry, InsetAndOffset) {
  EXPECT_EQ(CGRectInset(CGRectMake(0, 0, 10, 10), 5, 5), CGRectMake(5, 5, 0, 0));
  EXPECT_TRUE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 10), 5.5, 0)));
  EXPECT_EQ(CGRectInset(CGRectMake(0, 0, 10, 10), -3, -3), CGRectMake(-3, -3, 16, 16));
  // Standardised before insetting.
  EXPECT_EQ(CGRectInset(CGRectMake(10, 10, -10, -10), 1, 2), CGRectMake(1, 2, 8, 6));
  EXPECT_TRUE(CGRectIsNull(CGRectInset(CGRectNull, -5, -5)));
  EXPECT_EQ(CGRectOffset(CGRectMake(4, 4, -2, 2), 1, -1), CGRectMake(3, 3, 2, 2));
  EXPECT_TRUE(CGRectIsNull(CGRectOffset(CGRectNull, 3, 3)));
}

TEST(Geometry, UnionTreatsNullAsIdentity) {
  const CGRect r = CGRectMake(1, 2, 3, 4);
  EXPECT_EQ(CGRectUnion(CGRectNull, r), r);
  EXPECT_EQ(CGRectUnion(r, CGRectNull), r);
  EXPECT_TRUE(CGRectIsNull(CGRectUnion(CGRectNull, CGRectNull)));
  EXPECT_EQ(CGRectUnion(r, CGRectMake(10, -5, -2, 1)), CGRectMake(1, -5, 9, 11));
  // A zero-size rect is a point, not "nothing": it still extends the union.
  EXPECT_EQ(CGRectUnion(r, CGRectMake(0, 0, 0, 0)), CGRectMake(0, 0, 4, 6));
}

TEST(Geometry, IntersectionOfDisjointTouchingAndOverlappingRects) {
  const CGRect a = CGRectMake(0, 0, 10, 10);
  EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(11, 0, 5, 5))));
  EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(11, 0, 5, 5)));
  // Touching edges give a zero-width rect on the shared edge.
  const CGRect touch = CGRectIntersection(a, CGRectMake(10, 2, 5, 5));
  EXPECT_FALSE(CGRectIsNull(touch));
  EXPECT_EQ(touch, CGRectMake(10, 2, 0, 5));
  EXPECT_TRUE(CGRectIsEmpty(touch));
  EXPECT_EQ(CGRectIntersection(a, CGRectMake(12, 8, -4, 4)), CGRectMake(8, 8, 2, 2));
  EXPECT_EQ(CGRectIntersection(CGRectInfinite, CGRectMake(1, 2, -1, 3)), CGRectMake(0, 2, 1, 3));
  EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectNull)));
  EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(NAN, 0, 1, 1))));
}

TEST(Geometry, ContainsPointIsHalfOpen) {
  const CGRect r = CGRectMake(0, 0, 4, 4);
  EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(0, 0)));
  EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(3.999, 3.999)));
  EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(4, 2)));
  EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(2, 4)));
  EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(-0.001, 2)));
  // Negative size: the same half-open rule on the standardised rect.
  EXPECT_TRUE(CGRectContainsPoint(CGRectMake(4, 4, -4, -4), CGPointMake(0, 0)));
  EXPECT_FALSE(CGRectContainsPoint(CGRectMake(4, 4, -4, -4), CGPointMake(4, 4)));
  EXPECT_FALSE(CGRectContainsPoint(CGRectZero, CGPointZero));
  EXPECT_FALSE(CGRectContainsPoint(CGRectNull, CGPointZero));
}

TEST(Geometry, ContainsRect) {
  const CGRect r = CGRectMake(0, 0, 10, 10);
  EXPECT_TRUE(CGRectContainsRect(r, r));
  EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(10, 10, -10, -10)));
  EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(2, 2, 8, 8)));
  EXPECT_FALSE(CGRectContainsRect(r, CGRectMake(2, 2, 8.5, 8)));
  EXPECT_TRUE(CGRectContainsRect(r, CGRectNull));
  EXPECT_FALSE(CGRectContainsRect(CGRectNull, r));
}

TEST(Geometry, IntegralGrowsToWholeNumbers) {
  EXPECT_EQ(CGRectIntegral(CGRectMake(0.5, 1.2, 2.0, 2.9)), CGRectMake(0, 1, 3, 4));
  EXPECT_EQ(CGRectIntegral(CGRectMake(-0.5, -0.5, 1, 1)), CGRectMake(-1, -1, 2, 2));
  EXPECT_EQ(CGRectIntegral(CGRectMake(3.5, 3.5, -1, -1)), CGRectMake(2, 2, 2, 2));
  EXPECT_EQ(CGRectIntegral(CGRectMake(2, 3, 4, 5)), CGRectMake(2, 3, 4, 5));
  EXPECT_TRUE(CGRectIsNull(CGRectIntegral(CGRectNull)));
}

TEST(Geometry, AffineTransformsComposeInvertAndMapRectangles) {
  const CGAffineTransform scaleThenMove =
      CGAffineTransformConcat(CGAffineTransformMakeScale(2, 3), CGAffineTransformMakeTranslation(10, -4));
  EXPECT_EQ(CGPointApplyAffineTransform({1, 1}, scaleThenMove), CGPointMake(12, -1));
  const CGAffineTransform back = CGAffineTransformInvert(scaleThenMove);
  EXPECT_EQ(CGPointApplyAffineTransform({12, -1}, back), CGPointMake(1, 1));
  EXPECT_EQ(CGAffineTransformInvert(CGAffineTransformMakeScale(0, 1)), CGAffineTransformMakeScale(0, 1));
  EXPECT_EQ(CGRectApplyAffineTransform(CGRectMake(0, 0, 4, 2), CGAffineTransformMakeScale(-1, 2)),
            CGRectMake(-4, 0, 4, 4));
  EXPECT_TRUE(CGRectIsNull(CGRectApplyAffineTransform(CGRectNull, scaleThenMove)));
  EXPECT_TRUE(CGRectIsInfinite(CGRectApplyAffineTransform(CGRectInfinite, scaleThenMove)));
}
