#include "platform/appkit/layer.hpp"

#include <gtest/gtest.h>

#include "platform/appkit/view.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class CALayerTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

TEST_F(CALayerTest, ChangesRecordTheTransactionTheyWereMadeIn) {
  auto layer = CALayer::make();
  EXPECT_FALSE(layer->isHidden());
  EXPECT_EQ(layer->contentsScale(), 1.0);
  EXPECT_EQ(layer->contentsGravity(), kCAGravityResize);

  // Without a transaction the disabled flag is lost: the change animates.
  CATransaction::setDisableActions(true);
  layer->setHidden(true);
  CATransaction::begin();
  CATransaction::setDisableActions(true);
  layer->setContentsScale(2.0);
  CATransaction::begin();  // inherits the disabled actions
  layer->setMagnificationFilter(kCAFilterNearest);
  CATransaction::setDisableActions(false);
  layer->setHidden(false);
  CATransaction::commit();
  layer->setFrame(CGRectMake(1, 2, 3, 4));
  CATransaction::commit();
  CATransaction::commit();  // unbalanced: ignored

  struct Expected {
    const char* key;
    bool inTransaction;
    bool disabled;
  };
  const Expected expected[] = {{"hidden", false, false},
                               {"contentsScale", true, true},
                               {"magnificationFilter", true, true},
                               {"hidden", true, false},
                               {"frame", true, true}};
  ASSERT_EQ(layer->changes().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(layer->changes()[i].key, expected[i].key) << i;
    EXPECT_EQ(layer->changes()[i].inTransaction, expected[i].inTransaction) << i;
    EXPECT_EQ(layer->changes()[i].actionsDisabled, expected[i].disabled) << i;
  }
  EXPECT_FALSE(layer->isHidden());
  EXPECT_EQ(layer->contentsScale(), 2.0);
  EXPECT_EQ(layer->magnificationFilter(), kCAFilterNearest);
  EXPECT_EQ(layer->bounds(), CGRectMake(0, 0, 3, 4));
  EXPECT_FALSE(CATransaction::inTransaction());

  CATransaction::flush();
  CATransaction::flush();
  EXPECT_EQ(CATransaction::flushCount(), 2);
  CATransaction::begin();
  resetProcessState();
  EXPECT_EQ(CATransaction::flushCount(), 0);
  EXPECT_FALSE(CATransaction::inTransaction());
}

TEST_F(CALayerTest, SublayersFormATreeAndAViewWantingALayerGetsOne) {
  auto root = CALayer::make(), child = CALayer::make(), other = CALayer::make();
  root->addSublayer(child);
  child->addSublayer(root);  // a cycle: ignored
  EXPECT_EQ(child->superlayer(), root);
  EXPECT_TRUE(child->sublayers().empty());
  other->addSublayer(child);  // moves
  EXPECT_TRUE(root->sublayers().empty());
  ASSERT_EQ(other->sublayers().size(), 1u);
  child->removeFromSuperlayer();
  EXPECT_TRUE(other->sublayers().empty());
  EXPECT_EQ(child->superlayer(), nullptr);

  auto view = std::make_shared<NSView>(NSMakeRect(0, 0, 10, 10));
  EXPECT_EQ(view->layer(), nullptr);
  view->setWantsLayer(true);
  auto layer = view->layer();
  ASSERT_NE(layer, nullptr);
  view->setWantsLayer(true);
  EXPECT_EQ(view->layer(), layer);
}

TEST_F(CALayerTest, TheFrameIsDerivedFromBoundsPositionAndAnchorPoint) {
  auto layer = CALayer::make();
  EXPECT_EQ(layer->anchorPoint(), CGPointMake(0.5, 0.5));
  EXPECT_EQ(layer->frame(), CGRectZero);

  // Setting the frame keeps the anchor: the position lands on the anchor.
  layer->setFrame(CGRectMake(10, 20, 40, 60));
  EXPECT_EQ(layer->position(), CGPointMake(30, 50));
  EXPECT_EQ(layer->bounds(), CGRectMake(0, 0, 40, 60));
  EXPECT_EQ(layer->frame(), CGRectMake(10, 20, 40, 60));

  // Moving the anchor moves the frame around a fixed position; the bounds'
  // origin never moves the frame.
  layer->setAnchorPoint(CGPointMake(0, 1));
  EXPECT_EQ(layer->frame(), CGRectMake(30, -10, 40, 60));
  layer->setBounds(CGRectMake(5, 5, 20, 30));
  layer->setPosition(CGPointMake(10, 11));
  EXPECT_EQ(layer->frame(), CGRectMake(10, -19, 20, 30));
  ASSERT_TRUE(layer->valueForKey("frame"));
  EXPECT_EQ(std::get<CGRect>(*layer->valueForKey("frame")), CGRectMake(10, -19, 20, 30));
  EXPECT_EQ(layer->changes().back().key, "position");
}

}  // namespace
}  // namespace platform
