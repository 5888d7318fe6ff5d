#include "platform/ui/graph.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "platform/appkit/event.hpp"
#include "platform/appkit/window.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/layout.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {
namespace {

class ViewGraphTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  // One turn: the main queue, renders included.
  void turn() { scope->runUntilIdle(); }

  SimulatedSchedulerScope scope;
  std::vector<std::string> log;
};

// A counter with its own state, to tell kept state from fresh state.
View Counter(std::vector<std::string>& log, const std::string& name) {
  return Composite("Counter", [&log, name](Context& c) {
    auto count = c.state<int>("count", 0);
    return Button("count " + std::to_string(count.get()), [count] { count.set(count.get() + 1); })
        .onAppear([&log, name] { log.push_back("appear " + name); })
        .onDisappear([&log, name] { log.push_back("disappear " + name); });
  });
}

TEST_F(ViewGraphTest, StateIsKeptAcrossRendersAndFreshAfterRemovalWithAppearAndDisappearOnASwap) {
  auto page = std::make_shared<int>(0);
  auto graph = ViewGraph::make(Composite("Pages", [&, page](Context& c) {
    auto showFirst = c.state<bool>("first", true);
    (void)page;
    return VStack(HorizontalAlignment::center, 8,
                  {If(showFirst.get(), Counter(log, "one"), Counter(log, "two")),
                   Button("swap", [showFirst] { showFirst.set(!showFirst.get()); })});
  }));
  turn();
  EXPECT_EQ(log, (std::vector<std::string>{"appear one"}));

  ASSERT_TRUE(graph->findText("count 0")->tap());
  turn();
  ASSERT_TRUE(graph->findText("count 1")) << "state kept across a render";

  graph->findText("swap")->tap();
  turn();
  EXPECT_EQ(log, (std::vector<std::string>{"appear one", "disappear one", "appear two"}));
  EXPECT_TRUE(graph->findText("count 0")) << "the other page has its own state";

  graph->findText("swap")->tap();
  turn();
  EXPECT_TRUE(graph->findText("count 0")) << "a removed page comes back with fresh state";
  EXPECT_EQ(log.back(), "appear one");
}

TEST_F(ViewGraphTest, OnChangeSkipsTheInitialValueAndRunsInAttachmentOrder) {
  auto graph = ViewGraph::make(Composite("Watcher", [&](Context& c) {
    auto value = c.state<int>("value", 1);
    return Button("bump", [value] { value.set(value.get() + 1); })
        .onChange<int>(value.get(), [&](const int& a, const int& b) {
          log.push_back("first " + std::to_string(a) + "->" + std::to_string(b));
        })
        .onChange<int>(value.get() / 2, [&](const int& a, const int& b) {
          log.push_back("half " + std::to_string(a) + "->" + std::to_string(b));
        });
  }));
  turn();
  EXPECT_TRUE(log.empty()) << "no action for the initial value";
  graph->findText("bump")->tap();  // 2: half changes too
  turn();
  graph->findText("bump")->tap();  // 3: half stays 1
  turn();
  EXPECT_EQ(log, (std::vector<std::string>{"first 1->2", "half 0->1", "first 2->3"}));
}

TEST_F(ViewGraphTest, DisabledIsInheritedAndRefusesActions) {
  int taps = 0;
  bool on = false;
  auto graph = ViewGraph::make(VStack(HorizontalAlignment::center, 0,
                                      {Button("inner", [&] { ++taps; }),
                                       Toggle("switch", {[&] { return on; }, [&](bool v) { on = v; }}),
                                       Button("outside", [&] { ++taps; }).disabled(false)})
                                   .disabled(true));
  turn();
  EXPECT_FALSE(graph->findText("inner")->tap());
  EXPECT_FALSE(graph->findText("switch")->tap());
  EXPECT_FALSE(graph->findText("outside")->isEnabled()) << "an inner disabled(false) cannot re-enable";
  EXPECT_EQ(taps, 0);
  EXPECT_FALSE(on);

  graph->setRoot(Toggle("switch", {[&] { return on; }, [&](bool v) { on = v; }}));
  turn();
  EXPECT_TRUE(graph->findText("switch")->tap());
  EXPECT_TRUE(on);
  EXPECT_EQ(graph->findKind("Toggle")->accessibility().value, "1");
}

TEST_F(ViewGraphTest, NestedHoverHandlersBothFireOnEnterAndLeave) {
  auto graph = ViewGraph::make(VStack(HorizontalAlignment::center, 0,
                                      {Text("inner").frame(100, 20).onHover([&](bool in) {
                                         log.push_back(in ? "inner in" : "inner out");
                                       }),
                                       Text("other").frame(100, 20)})
                                   .onHover([&](bool in) { log.push_back(in ? "outer in" : "outer out"); }));
  graph->setSize({200, 100});
  turn();
  graph->findText("inner")->hover(true);
  graph->findText("other")->hover(true);
  graph->findText("other")->hover(false);
  EXPECT_EQ(log, (std::vector<std::string>{"outer in", "inner in", "inner out", "outer out"}));
}

TEST_F(ViewGraphTest, PopoverOpensFromItsBindingAndDismissalWritesItBack) {
  auto graph = ViewGraph::make(Composite("Help", [](Context& c) {
    auto shown = c.state<bool>("shown", false);
    return Button("?", [shown] { shown.set(!shown.get()); }).popover(shown.binding(), Text("details").padding(16));
  }));
  turn();
  EXPECT_FALSE(graph->findText("details"));
  graph->findText("?")->tap();
  turn();
  auto details = graph->findText("details");
  ASSERT_TRUE(details);
  EXPECT_GT(details->frame().origin.y, graph->findText("?")->frame().origin.y) << "shown below its anchor";
  EXPECT_TRUE(details->dismissPopover());
  turn();
  EXPECT_FALSE(graph->findText("details"));
  EXPECT_FALSE(graph->findText("?")->dismissPopover()) << "nothing left to close";
}

TEST_F(ViewGraphTest, APopoverHangsFromItsArrowEdgeAndItsArrowTipTouchesTheAnchor) {
  // The popover is about 47 × 77 points in a graph 200 wide; the anchor 10 × 20.
  struct Case {
    const char* edge;  // "" for none given
    double anchorX, anchorY, height;
    bool above;
  } cases[] = {
      {"bottom", 95, 20, 200, false}, {"bottom", 95, 150, 200, true}, {"top", 95, 150, 200, true},
      {"top", 95, 20, 200, false}, {"default", 95, 20, 200, false}, {"", 95, 20, 200, false},
      {"default", 95, 150, 200, true}, {"default", 0, 20, 200, false}, {"default", 190, 150, 200, true},
      {"top", 190, 20, 200, false}, {"default", 95, 35, 80, true}, {"default", 95, 25, 80, false},  // room on
      {"top", 95, 25, 80, false},                                                                  // neither side
      {"default", 20, 20, 200, false}, {"default", 170, 20, 200, false},  // near either side: kept off it
  };
  for (const auto& k : cases) {
    std::map<std::string, Param> options;
    if (*k.edge) options["arrowEdge"] = std::string(k.edge);
    auto graph = ViewGraph::make(
        ColorView(Color::black())
            .frame(10.0, 20.0)
            .popover(Binding<bool>::constant(true), Text("details").padding(16), options)
            .offset(k.anchorX, k.anchorY)
            .frame(0.0, std::numeric_limits<double>::infinity(), 0.0, std::numeric_limits<double>::infinity(),
                   Alignment::topLeading()));
    graph->setSize({200, k.height});
    turn();
    const CGRect body = graph->findText("details")->node().outerFrame, anchor = graph->findKind("Color")->frame();
    SCOPED_TRACE(::testing::Message() << k.edge << " at " << k.anchorX << ", " << k.anchorY);
    const auto arrow = popoverArrow(body, anchor);
    ASSERT_TRUE(arrow) << "the body covers its anchor";
    EXPECT_EQ(!arrow->onTop, k.above);
    EXPECT_EQ(std::abs(arrow->baseY - arrow->tip.y), kPopoverArrowHeight) << "one arrow from the anchor";
    EXPECT_TRUE(arrow->tip.x >= CGRectGetMinX(anchor) && arrow->tip.x <= CGRectGetMaxX(anchor)) << arrow->tip.x;
    // Off the window's sides, with room for its shadow, but for as far as
    // the arrow needs to reach the anchor.
    const double reach = kPopoverCornerRadius + kPopoverArrowHalfBase, margin = kPopoverWindowMargin;
    EXPECT_GE(CGRectGetMinX(body), std::min(margin, CGRectGetMidX(anchor) - reach) - 1e-9);
    EXPECT_LE(CGRectGetMaxX(body), std::max(200.0 - margin, CGRectGetMidX(anchor) + reach) + 1e-9);
  }
}

TEST_F(ViewGraphTest, APopoverOnAViewTheLayoutNeverPlacedIsNeitherDrawnNorHit) {
  // A scroll view shows its first view only.
  auto scroll = std::make_shared<ViewDesc>(ScrollView(ColorView(Color::black()).frame(200.0, 100.0)).desc());
  scroll->children.push_back(
      ColorView(Color::white()).frame(20.0, 20.0).popover(Binding<bool>::constant(true), Text("details").padding(16)));
  auto graph = ViewGraph::make(View(scroll));
  graph->setSize({200, 100});
  turn();
  ASSERT_TRUE(graph->findText("details"));
  EXPECT_EQ(graph->hitTest({100, 50})->kind(), "Color");
  EXPECT_EQ(pixelOf(*graph, 100, 50), (std::array<int, 4>{0, 0, 0, 255})) << "no popover over the first view";
}

TEST_F(ViewGraphTest, ModifierContentSeesTheParentsEnvironmentAndTheModifiersAppliedAfterIt) {
  auto style = [](const ButtonStyleConfiguration& c) { return c.label.opacity(0.5); };
  auto graph = ViewGraph::make(Composite("Anchor", [style](Context& c) {
    auto shown = c.state<bool>("shown", true);
    return Button("anchor", [] {})
        .buttonStyle(style)
        .font(Font::system(20))
        .popover(shown.binding(), Button("inside", [] {}))
        .background(Text("behind"))
        .foregroundStyle(Color::orange());
  }));
  graph->setEnvironment([](Environment& e) { e.font = Font::system(9); });
  turn();
  const Node& anchor = graph->findKind("Button", 0)->node();
  EXPECT_EQ(anchor.environment.font.size, 20);
  EXPECT_TRUE(anchor.environment.values.count("buttonStyle"));
  for (const char* text : {"inside", "behind"}) {
    const Node& content = graph->findText(text)->node();
    EXPECT_EQ(content.environment.font.size, 9) << text << ": the parent's font, not the anchor's";
    EXPECT_EQ(content.environment.foreground, Color::orange()) << text << ": a modifier applied after it reaches it";
  }
  const Node& inside = graph->findKind("Button", 1)->node();
  EXPECT_FALSE(inside.environment.values.count("buttonStyle")) << "the anchor's style stays on the anchor";
  EXPECT_EQ(inside.children.front()->kind(), "Text") << "a standard button: its label is no styled body";
}

TEST_F(ViewGraphTest, AStackWithRoomForItsChildrensNaturalWidthsGivesEachItsNaturalWidth) {
  // Placed in exactly its measured width, the stack must not share that
  // room out again: " ms" (less flexible) would get half of it and wrap.
  const Font font = Font::system(11, FontWeight::regular, FontDesign::monospaced);
  for (const char* number : {"60", "150", "220"}) {
    auto graph = ViewGraph::make(
        HStack(VerticalAlignment::center, 0, {Text(number), Text(" ms")}).font(font).fixedSize().padding(10));
    graph->setSize({200, 100});
    turn();
    for (const char* text : {number, " ms"}) {
      const CGRect f = graph->findText(text)->frame();
      EXPECT_EQ(f.size, measureText(text, font, std::nullopt).size) << number << ": " << text;
    }
    EXPECT_EQ(graph->findText(number)->frame().origin.y, graph->findText(" ms")->frame().origin.y);
  }
  // With room to spare the spacer still takes what is left.
  auto graph = ViewGraph::make(HStack(VerticalAlignment::center, 0, {Text("Snappy"), Spacer(), Text("Relaxed")}));
  graph->setSize({300, 40});
  turn();
  EXPECT_EQ(graph->findText("Snappy")->frame().origin.x, 0);
  EXPECT_EQ(CGRectGetMaxX(graph->findText("Relaxed")->frame()), 300);
}

TEST_F(ViewGraphTest, ACancelledSleepNeverContinuesAndAnUncancelledOneEndsOnTime) {
  std::vector<double> woke;
  auto sleeper = [&] {
    return Task::run([&](Task& t) { t.sleep(0.11, [&] { woke.push_back(scope->now()); }); });
  };
  const double start = scope->now();
  auto kept = sleeper();
  auto cancelled = sleeper();
  turn();
  scope->advance(0.05);
  cancelled->cancel();
  scope->advance(0.059);
  EXPECT_TRUE(woke.empty()) << "0.109 s: still asleep";
  scope->advance(0.002);
  ASSERT_EQ(woke.size(), 1u) << "only the task that was not cancelled continues";
  EXPECT_NEAR(woke[0] - start, 0.11, 1e-9);
}

TEST_F(ViewGraphTest, AnEquatableViewSkipsItsBodyWhileItsValueIsEqual) {
  auto graph = ViewGraph::make(Composite("Outer", [](Context& c) {
    auto count = c.state<int>("count", 0);
    return VStack(HorizontalAlignment::center, 0,
                  {Button("bump", [count] { count.set(count.get() + 1); }),
                   Equatable(count.get() / 2, Composite("Inner", [v = count.get() / 2](Context&) {
                               return Text("half " + std::to_string(v));
                             }))});
  }));
  turn();
  EXPECT_EQ(graph->bodyCount("Inner"), 1);
  graph->findText("bump")->tap();  // 1: half stays 0
  turn();
  EXPECT_EQ(graph->bodyCount("Outer"), 2);
  EXPECT_EQ(graph->bodyCount("Inner"), 1);
  graph->findText("bump")->tap();  // 2: half becomes 1
  turn();
  EXPECT_EQ(graph->bodyCount("Inner"), 2);
  EXPECT_TRUE(graph->findText("half 1"));
}

struct Hosted : NSView {
  using NSView::NSView;
  std::vector<std::string>* log = nullptr;
  void viewDidMoveToWindow() override { log->push_back(window() ? "in window" : "out of window"); }
};

struct HostedRepresentable : NSViewRepresentable {
  std::vector<std::string>* log;
  std::string title;
  std::any makeCoordinator() const override { return std::string("coordinator"); }
  std::shared_ptr<NSView> makeNSView(Context& c) const override {
    log->push_back("make with " + std::any_cast<std::string>(c.coordinator));
    auto v = std::make_shared<Hosted>(CGRectMake(0, 0, 50, 20));
    v->log = log;
    v->setAccessibilityElement(true);
    return v;
  }
  void updateNSView(NSView& v, Context&) const override {
    log->push_back("update " + title);
    v.setAccessibilityLabel(title);
  }
  void dismantleNSView(NSView&, std::any&) const override { log->push_back("dismantle"); }
};

TEST_F(ViewGraphTest, AHostedViewIsMadeOnceUpdatedOnEveryParentRenderAndDismantledOnRemoval) {
  auto window = NSWindow::make(CGRectMake(0, 0, 300, 200), 2);
  auto root = [&](bool shown, std::string title) {
    auto rep = std::make_shared<HostedRepresentable>();
    rep->log = &log;
    rep->title = title;
    return VStack(HorizontalAlignment::center, 0, {If(shown, Representable("Hosted", rep)), Text(title)});
  };
  auto host = NSHostingView::make(root(true, "a"), CGRectMake(0, 0, 300, 200));
  window->setContentView(host);
  turn();
  host->setRootView(root(true, "b"));
  turn();
  EXPECT_EQ(host->graph()->findLabel("b")->kind(), "Hosted") << "its accessibility is read through";
  auto view = host->graph()->findKind("Hosted")->hostedView();
  EXPECT_EQ(view->superview(), host);
  EXPECT_GT(view->frame().size.width, 0);
  host->setRootView(root(false, "c"));
  turn();
  EXPECT_EQ(log, (std::vector<std::string>{"make with coordinator", "update a", "in window", "update b",
                                           "dismantle", "out of window"}));
  EXPECT_EQ(view->superview(), nullptr);
}

struct Clicked : NSView {
  using NSView::NSView;
  std::vector<std::string>* log = nullptr;
  void mouseDown(const NSEvent&) override { log->push_back("hosted down"); }
  void mouseUp(const NSEvent&) override { log->push_back("hosted up"); }
};

struct ClickedRepresentable : NSViewRepresentable {
  std::vector<std::string>* log;
  std::shared_ptr<NSView> makeNSView(Context&) const override {
    auto v = std::make_shared<Clicked>(CGRectZero);
    v->log = log;
    return v;
  }
  void updateNSView(NSView&, Context&) const override {}
};

TEST_F(ViewGraphTest, TheWindowsPointerHoversAndClicksTheGraphAndHostedViewsTakeTheirOwnClicks) {
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  auto window = NSWindow::make(CGRectMake(0, 0, 300, 200), 2);
  auto rep = std::make_shared<ClickedRepresentable>();
  rep->log = &log;
  auto host = NSHostingView::make(
      VStack(HorizontalAlignment::center, 0,
             {Button(Text("Top").frame(300.0, 100.0), [&] { log.push_back("tap top"); }).onHover([&](bool in) {
                log.push_back(in ? "hover top" : "leave top");
              }),
              ZStack({Button(Text("Under").frame(300.0, 100.0), [&] { log.push_back("tap under"); }),
                      Representable("Clicked", rep).frame(100.0, 50.0)})}),
      CGRectMake(0, 0, 300, 200));
  window->setContentView(host);
  window->orderFront();
  turn();
  // Window coordinates have y up: the graph's (x, y) is (x, 200 - y).
  const auto send = [&](NSEventType type, double x, double y) { window->sendEvent(NSEvent(type, {x, 200 - y}, 0, 0)); };
  send(NSEventTypeMouseMoved, 150, 50);
  send(NSEventTypeMouseMoved, 150, 60);
  send(NSEventTypeLeftMouseDown, 150, 50);
  send(NSEventTypeLeftMouseUp, 150, 50);
  send(NSEventTypeLeftMouseDown, 150, 50);  // pressed on one button, released on another
  send(NSEventTypeLeftMouseUp, 20, 180);
  send(NSEventTypeMouseMoved, 150, 150);
  send(NSEventTypeLeftMouseDown, 150, 150);  // the hosted view in the middle of the lower button
  send(NSEventTypeLeftMouseUp, 150, 150);
  send(NSEventTypeLeftMouseDown, 20, 180);
  send(NSEventTypeLeftMouseUp, 20, 180);
  send(NSEventTypeMouseExited, 400, 400);
  EXPECT_EQ(log, (std::vector<std::string>{"hover top", "tap top", "leave top", "hosted down", "hosted up",
                                           "tap under"}));
}

// Return reaches the graph as a key equivalent of its window: only the
// enabled button that has the default action takes it, and only without a
// chord.
TEST_F(ViewGraphTest, AccessibilityReadsTheEffectiveElements) {
  auto graph = ViewGraph::make(VStack(
      HorizontalAlignment::center, 0,
      {HStack(VerticalAlignment::center, 0, {Text("150"), Text(" ms")}).accessibilityElement(AccessibilityChildren::combine),
       HStack(VerticalAlignment::center, 0, {Text("hidden inside")})
           .accessibilityElement(AccessibilityChildren::ignore)
           .accessibilityLabel("Readout"),
       Text("gone").accessibilityHidden(true),
       Text("Tab").accessibilityAddTraits("isSelected").accessibilityAddTraits("isHeader").help("tip"),
       ImageSystem("exclamationmark.circle.fill")}));
  turn();
  EXPECT_TRUE(graph->findLabel("150,  ms"));
  EXPECT_FALSE(graph->findLabel("hidden inside")) << "children of an ignoring element are not elements";
  EXPECT_TRUE(graph->findLabel("Readout"));
  EXPECT_FALSE(graph->findLabel("gone"));
  auto tab = graph->findLabel("Tab")->accessibility();
  EXPECT_EQ(tab.traits, (std::set<std::string>{"isHeader", "isSelected"}));
  EXPECT_EQ(tab.help, "tip");
  EXPECT_EQ(graph->findKind("Image")->accessibility().label, "exclamationmark.circle.fill");
}

TEST_F(ViewGraphTest, AButtonStyleSeesThePressAndTheActionRunsOnRelease) {
  int taps = 0;
  auto graph = ViewGraph::make(Button("Go", [&] { ++taps; }).buttonStyle([](const ButtonStyleConfiguration& c) {
    return c.label.opacity(c.isPressed ? 0.5 : 1.0);
  }));
  turn();
  auto go = graph->findText("Go");
  go->press();
  turn();
  EXPECT_EQ(graph->findKind("Button")->node().children.front()->modifier("opacity")->number("value"), 0.5);
  EXPECT_EQ(taps, 0);
  go->release();
  turn();
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(graph->findKind("Button")->node().children.front()->modifier("opacity")->number("value"), 1.0);
}

TEST_F(ViewGraphTest, ReduceMotionComesFromTheWorkspaceAndAnimationsAreRecordedNotPlayed) {
  auto graph = ViewGraph::make(Composite("Animated", [](Context& c) {
    auto value = c.state<int>("value", 0);
    const bool reduce = c.environment().reduceMotion;
    return Button("v" + std::to_string(value.get()), [value] { value.set(value.get() + 1); })
        .animation(reduce ? std::nullopt : std::optional<Animation>(Animation::easeOut(0.16)), value.get());
  }));
  turn();
  graph->findText("v0")->tap();
  turn();
  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  turn();
  EXPECT_TRUE(graph->root()->environment.reduceMotion) << "a change of the option re-renders";
  graph->findText("v1")->tap();
  turn();
  ASSERT_EQ(graph->animations().size(), 2u);
  EXPECT_EQ(graph->animations()[0].animation, Animation::easeOut(0.16));
  EXPECT_EQ(graph->animations()[1].animation, std::nullopt);
}

TEST_F(ViewGraphTest, ForEachKeepsStateWithItsIdAndOnReceiveListensWhileTheViewIsThere) {
  auto center = std::make_shared<NSNotificationCenter>();
  auto row = [&](const std::string& id) {
    return Composite("Row", [&, id](Context& c) {
      auto taps = c.state<int>("taps", 0);
      return Button(id + " " + std::to_string(taps.get()), [taps] { taps.set(taps.get() + 1); })
          .onReceive<NSNotification>(notificationPublisher(*center, "ping"),
                                     [&, id](const NSNotification&) { log.push_back("ping " + id); });
    });
  };
  auto graph = ViewGraph::make(ForEach({"a", "b"}, row));
  turn();
  graph->findText("b 0")->tap();
  turn();
  graph->setRoot(ForEach({"b", "c"}, row));
  turn();
  EXPECT_TRUE(graph->findText("b 1")) << "the state moved with its id";
  EXPECT_TRUE(graph->findText("c 0"));
  center->postNotificationName("ping", nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"ping b", "ping c"})) << "the removed row no longer listens";

  // A view that stays but drops its receiver stops listening, and listens
  // again once it has one.
  log.clear();
  bool listening = true;
  auto changes = std::make_shared<Published<int>>(0);
  graph->setRoot(Composite("Listener", [&](Context& c) {
    c.observe(changes->publisher());
    View text = Text("listener");
    if (listening)
      text = text.onReceive<NSNotification>(notificationPublisher(*center, "ping"),
                                            [&](const NSNotification&) { log.push_back("ping listener"); });
    return text;
  }));
  turn();
  center->postNotificationName("ping", nullptr);
  listening = false;
  changes->set(1);
  turn();
  center->postNotificationName("ping", nullptr);
  listening = true;
  changes->set(2);
  turn();
  center->postNotificationName("ping", nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"ping listener", "ping listener"}));
}

TEST_F(ViewGraphTest, LinksOpenThroughTheInjectedOpener) {
  auto graph = ViewGraph::make(Link("Terms", "https://example.test/terms/"));
  turn();
  graph->findText("Terms")->tap();
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs(), (std::vector<std::string>{"https://example.test/terms/"}));
  std::string opened;
  graph->setEnvironment([&](Environment& e) {
    e.openURL = [&](const std::string& url) {
      opened = url;
      return true;
    };
  });
  turn();
  graph->findText("Terms")->tap();
  EXPECT_EQ(opened, "https://example.test/terms/");
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs().size(), 1u);
}

TEST_F(ViewGraphTest, StacksSpacersPaddingAndFramesLayOutAsProposed) {
  auto graph = ViewGraph::make(VStack(HorizontalAlignment::leading, 8,
                                      {HStack(VerticalAlignment::center, 0,
                                              {ColorView(Color::black()).frame(20, 10), Spacer(8),
                                               ColorView(Color::black()).frame(30, 10)}),
                                       Text("padded").padding(Edge::all, 12).frame(std::nullopt, std::nullopt, std::nullopt,
                                                                                  std::nullopt, Alignment::leading()),
                                       ColorView(Color::black()).frame(0.0, std::numeric_limits<double>::infinity(), 0.0,
                                                                       30.0, Alignment::center())})
                                   .padding(Edge::all, 10));
  graph->setSize({200, 300});
  turn();
  auto colors = graph->findAll([](const Node& n) { return n.kind() == "Color"; });
  ASSERT_EQ(colors.size(), 3u);
  EXPECT_EQ(colors[0].frame().origin.x, 10);
  EXPECT_EQ(CGRectGetMaxX(colors[1].frame()), 190) << "the spacer pushes the last one to the trailing edge";
  EXPECT_EQ(colors[2].frame().size.width, 180) << "an infinite maximum fills the proposal";
  EXPECT_EQ(colors[2].frame().size.height, 30);
  auto text = graph->findText("padded")->frame();
  EXPECT_EQ(text.origin.x, 22);
  EXPECT_EQ(text.origin.y, colors[0].frame().origin.y + 10 + 8 + 12);
  EXPECT_EQ(CGRectGetMidY(graph->root()->outerFrame), 150) << "the content is centred in the window";
  EXPECT_GT(text.size.width, 20);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

View Filling(View content, Alignment alignment = Alignment::topLeading()) {
  return content.frame(0.0, kInf, 0.0, kInf, alignment);
}

TEST_F(ViewGraphTest, ClicksAndHoversFollowContentShapesHitTestingAndTheButtonsLook) {
  int capsuleTaps = 0, underTaps = 0, plainTaps = 0, borderedTaps = 0;
  bool hovered = false, passThroughHovered = false;
  auto press = [](const ButtonStyleConfiguration& c) { return c.label; };
  auto graph = ViewGraph::make(Filling(VStack(
      HorizontalAlignment::leading, 0,
      {Button(Text("Tab").frame(100, 27).contentShape(ShapeKind::capsule), [&] { ++capsuleTaps; }).buttonStyle(press),
       ZStack({Button("Under", [&] { ++underTaps; }).frame(100, 30),
               ColorView(Color::clear()).frame(100, 30).allowsHitTesting(false).onHover([&](bool in) {
                 passThroughHovered = in;
               })}),
       ZStack({Button("Blocked", [&] { ++underTaps; }).frame(100, 30), ColorView(Color::clear()).frame(100, 30)}),
       Button("Plain", [&] { ++plainTaps; }).buttonStyle(ButtonStyleKind::plain),
       Button("Bordered", [&] { ++borderedTaps; }).buttonStyle(ButtonStyleKind::bordered),
       ColorView(Color::black()).frame(40, 40).contentShape(ShapeKind::circle).onHover([&](bool in) { hovered = in; })})));
  graph->setSize({200, 300});
  turn();

  const CGRect tab = graph->findText("Tab")->node().outerFrame;
  EXPECT_TRUE(graph->tap({CGRectGetMidX(tab), CGRectGetMidY(tab)}));
  EXPECT_TRUE(graph->tap({tab.origin.x + 14, tab.origin.y + 2})) << "inside the capsule, off the text";
  EXPECT_FALSE(graph->tap({tab.origin.x + 1, tab.origin.y + 1})) << "in the frame's corner, outside the capsule";
  EXPECT_EQ(capsuleTaps, 2);

  const CGRect under = graph->findText("Under")->frame();
  EXPECT_TRUE(graph->tap({CGRectGetMidX(under), CGRectGetMidY(under)})) << "through a view that takes no hits";
  const CGRect blocked = graph->findText("Blocked")->frame();
  EXPECT_FALSE(graph->tap({CGRectGetMidX(blocked), CGRectGetMidY(blocked)})) << "a colour on top takes the click";
  EXPECT_EQ(underTaps, 1);

  // A plain button is its label; a bordered one adds its bezel, which
  // takes clicks too.
  const Node& plain = graph->findKind("Button", 3)->node();
  const Node& bordered = graph->findKind("Button", 4)->node();
  EXPECT_EQ(plain.frame.size, graph->findText("Plain")->frame().size);
  EXPECT_EQ(bordered.frame.size.width, graph->findText("Bordered")->frame().size.width + 16);
  EXPECT_TRUE(graph->tap({bordered.frame.origin.x + 3, CGRectGetMidY(bordered.frame)}));
  EXPECT_TRUE(graph->tap({CGRectGetMidX(plain.frame), CGRectGetMidY(plain.frame)}));
  EXPECT_EQ(plainTaps, 1);
  EXPECT_EQ(borderedTaps, 1);

  const CGRect disc = graph->findKind("Color", 2)->frame();
  graph->movePointer(CGPoint{disc.origin.x + 2, disc.origin.y + 2});
  EXPECT_FALSE(hovered) << "the circle's corner";
  graph->movePointer(CGPoint{CGRectGetMidX(disc), CGRectGetMidY(disc)});
  EXPECT_TRUE(hovered);
  graph->movePointer(CGPoint{CGRectGetMidX(under), CGRectGetMidY(under)});
  EXPECT_FALSE(hovered);
  EXPECT_FALSE(passThroughHovered) << "a view that takes no hits is never hovered";
  EXPECT_EQ(graph->hitTest({CGRectGetMidX(under), CGRectGetMidY(under)})->text(), "Under");
}

TEST_F(ViewGraphTest, APopoverTakesClicksOverTheViewsBeneathIt) {
  int beneath = 0, inside = 0;
  bool shown = true;
  auto graph = ViewGraph::make(Filling(VStack(
      HorizontalAlignment::leading, 0,
      {Button("?", [] {}).popover({[&] { return shown; }, [&](bool v) { shown = v; }},
                                  Button("Inside", [&] { ++inside; }).padding(16)),
       Button(ColorView(Color::black()).frame(200, 80), [&] { ++beneath; }).buttonStyle(ButtonStyleKind::plain)})));
  graph->setSize({200, 200});
  turn();
  const CGRect button = graph->findText("Inside")->frame();
  ASSERT_GT(button.origin.y, graph->findKind("Color")->frame().origin.y) << "the popover lies over the colour";
  EXPECT_TRUE(graph->tap({CGRectGetMidX(button), CGRectGetMidY(button)}));
  EXPECT_EQ(inside, 1);
  EXPECT_EQ(beneath, 0);
}

TEST_F(ViewGraphTest, FixedAxesScaledToFitAndTheSafeAreaLayOutAsProposed) {
  const std::string sentence = "Open vurle again to show settings, even if both icons are hidden.";
  const Font font = Font::system(12);
  auto image = NSImage::make({128, 64});
  auto graph = ViewGraph::make(VStack(HorizontalAlignment::leading, 0,
                                      {Text(sentence).fixedSize(false, true).frame(120, 20),
                                       Text(sentence).fixedSize(true, false).frame(120, 20),
                                       Image(image).resizable().scaledToFit().frame(std::nullopt, 36.0),
                                       Image(image).resizable().scaledToFit().frame(100, 100),
                                       Image(image).frame(40, 40),
                                       ColorView(Color::black()).fixedSize(false, true).frame(120, 50),
                                       ColorView(Color::black()).fixedSize(true, false).frame(120, 50)})
                                   .font(font));
  graph->setSize({400, 400});
  turn();
  const auto wrapped = measureText(sentence, font, 120.0);
  auto texts = graph->findAll([](const Node& n) { return n.kind() == "Text"; });
  EXPECT_EQ(texts[0].frame().size, wrapped.size) << "the vertical axis keeps every wrapped line";
  EXPECT_EQ(texts[1].frame().size.width, measureText(sentence, font, std::nullopt).size.width) << "one line";
  EXPECT_EQ(texts[1].frame().size.height, measureText(sentence, font, std::nullopt).size.height);
  EXPECT_EQ(graph->findKind("Image", 0)->frame().size, (CGSize{72, 36}));
  EXPECT_EQ(graph->findKind("Image", 1)->frame().size, (CGSize{100, 50}));
  EXPECT_EQ(graph->findKind("Image", 2)->frame().size, (CGSize{128, 64})) << "not resizable: its own size";
  // A colour fills what it is offered; a fixed axis offers nothing, and it
  // takes its ideal 10 points there.
  EXPECT_EQ(graph->findKind("Color", 0)->frame().size, (CGSize{120, 10}));
  EXPECT_EQ(graph->findKind("Color", 1)->frame().size, (CGSize{10, 50}));

  // The root sits below a 28-point bar unless it ignores the safe area on
  // that edge; a titled window's content view takes its bar as safe area.
  auto page = [](unsigned ignored) {
    View v = Filling(ColorView(Color::black()));
    return ignored ? v.ignoresSafeArea(ignored) : v;
  };
  for (const auto& [ignored, top] : std::vector<std::pair<unsigned, double>>{
           {0u, 28.0}, {Edge::all, 0.0}, {Edge::top, 0.0}, {Edge::bottom, 28.0}}) {
    auto window = std::make_shared<NSWindow>(CGRectMake(0, 0, 300, 200), NSWindowStyleMaskTitled);
    auto host = NSHostingView::make(page(ignored), CGRectMake(0, 0, 300, 200));
    window->setContentView(host);
    turn();
    EXPECT_EQ(host->graph()->safeAreaInsets().top, 28);
    const CGRect f = host->graph()->findKind("Color")->node().outerFrame;
    EXPECT_EQ(f.origin.y, top) << "ignored edges " << ignored;
    EXPECT_EQ(CGRectGetMaxY(f), 200) << "ignored edges " << ignored;
  }
}

TEST_F(ViewGraphTest, StateSetInsideWithAnimationIsRecordedAsOneTransaction) {
  auto graph = ViewGraph::make(Composite("Mark", [](Context& c) {
    auto revealed = c.state<bool>("revealed", false);
    auto count = c.state<int>("count", 0);
    return VStack(HorizontalAlignment::center, 0,
                  {Button("animated", [=] { withAnimation(Animation::easeOut(0.3), [=] { revealed.set(!revealed.get()); }); }),
                   Button("none", [=] { withAnimation(std::nullopt, [=] { count.set(count.get() + 1); }); }),
                   Button("nested", [=] {
                     withAnimation(Animation::linear(1), [=] {
                       withAnimation(Animation::easeInOut(0.2), [=] { count.set(count.get() + 1); });
                       revealed.set(!revealed.get());
                     });
                   }),
                   Button("plain", [=] { count.set(count.get() + 1); })});
  }));
  turn();
  for (const char* button : {"animated", "none", "nested", "plain"}) {
    graph->findText(button)->tap();
    turn();
  }
  const std::string mark = graph->findKind("Mark")->identity();
  ASSERT_EQ(graph->animations().size(), 4u) << "a change outside withAnimation is no transaction";
  const std::vector<std::optional<Animation>> expected{Animation::easeOut(0.3), std::nullopt, Animation::easeInOut(0.2),
                                                        Animation::linear(1)};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(graph->animations()[i].identity, mark) << i;
    EXPECT_EQ(graph->animations()[i].animation, expected[i]) << i;
    EXPECT_TRUE(graph->animations()[i].transaction) << i;
  }
}

TEST_F(ViewGraphTest, AFrameIsCommittedWithItsGeometryBeforeItsAppearActionsRun) {
  std::vector<std::string> frames;
  auto graph = ViewGraph::make(Composite("Sized", [&](Context& c) {
    auto shown = c.state<bool>("shown", false);
    return GeometryReader([&, shown = shown.get()](CGSize size) {
             return If(size.width > 0,
                       Text(std::string(shown ? "on " : "off ") + std::to_string(int(size.width)))
                           .onAppear([&] { log.push_back("inner appears"); })
                           .onDisappear([&] { log.push_back("inner disappears"); }),
                       Text("unsized")
                           .onAppear([&] { log.push_back("unsized appears"); })
                           .onDisappear([&] { log.push_back("unsized disappears"); }));
           })
        .frame(120, 40)
        .onAppear([&, shown] {
          log.push_back("appears");
          shown.set(true);
        });
  }));
  graph->setFrameObserver([&](ViewGraph& g) {
    auto text = g.findKind("Text");
    frames.push_back(text ? text->text() : "none");
  });
  turn();
  EXPECT_EQ(frames, (std::vector<std::string>{"off 120", "on 120"})) << "no frame at the reader's unsized first evaluation";
  EXPECT_EQ(log, (std::vector<std::string>{"appears", "inner appears"}))
      << "content made and replaced while the frame settled neither appears nor disappears";
}

TEST_F(ViewGraphTest, ControlsTakeTheirLookTintAndTextStyleFromTheEnvironment) {
  bool agreed = false;
  auto custom = [](const ButtonStyleConfiguration& c) { return c.label.opacity(0.5); };
  auto image = NSImage::make({20, 10});
  image->setAccessibilityDescription("vurle");
  const std::string sentence = "You can select and copy the agreement text. Links open in your default app.";
  auto graph = ViewGraph::make(Filling(VStack(
      HorizontalAlignment::leading, 4,
      {Toggle("I agree to the", {[&] { return agreed; }, [&](bool v) { agreed = v; }})
           .toggleStyle(ToggleStyle::checkbox)
           .fixedSize()
           .accessibilityLabel("I agree to the License Agreement"),
       Button("License Agreement", [] {})
           .buttonStyle(ButtonStyleKind::plain)
           .underline()
           .foregroundStyle(Color::link())
           .accessibilityHint("Read the full license without accepting it"),
       VStack(HorizontalAlignment::leading, 4,
              {Button("Agree & Continue", [] {}).buttonStyle(ButtonStyleKind::borderedProminent),
               Button("Styled", [] {}).buttonStyle(custom), Button("Disagree & Quit", [] {}),
               Button("Not yet", [] {}).buttonStyle(ButtonStyleKind::borderedProminent).disabled(true)})
           .buttonStyle(ButtonStyleKind::bordered),
       Text(sentence).lineSpacing(3).frame(200, 60, Alignment::topLeading()),
       Text(sentence).frame(200, 60, Alignment::topLeading()), Image(image)})
      .tint(Color::sRGB(1, 0.8, 0))));
  graph->setSize({260, 400});
  turn();

  const Node& box = graph->findKind("Toggle")->node();
  const CGRect label = graph->findText("I agree to the")->frame();
  EXPECT_EQ(label.origin.x - box.frame.origin.x, 20) << "the box and its gap come first";
  EXPECT_EQ(box.frame.size.width, 20 + label.size.width);
  EXPECT_TRUE(graph->tap({box.frame.origin.x + 7, CGRectGetMidY(box.frame)}));
  EXPECT_TRUE(agreed);
  EXPECT_EQ(graph->findLabel("I agree to the License Agreement")->accessibility().role, "checkBox");

  const Node& link = graph->findText("License Agreement")->node();
  EXPECT_TRUE(link.environment.underline);
  EXPECT_EQ(link.environment.foreground, Color::link());
  EXPECT_EQ(graph->findLabel("License Agreement")->accessibility().hint, "Read the full license without accepting it");

  const Node& prominent = graph->findText("Agree & Continue")->node();
  EXPECT_EQ(prominent.environment.foreground, Color::white()) << "white on the tinted bezel";
  EXPECT_EQ(prominent.environment.controlTint(), Color::sRGB(1, 0.8, 0));
  EXPECT_NE(graph->findText("Not yet")->node().environment.foreground, Color::white())
      << "a disabled prominent button has no tinted bezel to be white on";
  EXPECT_EQ(graph->findKind("Button", 3)->node().children.front()->kind(), "Text") << "bordered: a bezel, no styled body";
  EXPECT_TRUE(graph->findKind("Button", 2)->node().children.front()->identity.ends_with("/style"))
      << "the nearer custom style wins over the container's";
  EXPECT_EQ(graph->findText("Disagree & Quit")->node().environment.buttonStyle, ButtonStyleKind::bordered);

  const double spaced = graph->findText(sentence)->frame().size.height;
  const double plain = graph->findAll([&](const Node& n) { return n.kind() == "Text" && n.view.desc().text == sentence; })[1]
                           .frame()
                           .size.height;
  const int lines = int(std::lround(plain / measureText("x", Font::system(13), std::nullopt).size.height));
  ASSERT_GE(lines, 2);
  EXPECT_NEAR(spaced - plain, 3.0 * (lines - 1), 1.0) << "3 points between lines, none after the last";
  EXPECT_EQ(graph->findKind("Image")->accessibility().label, "vurle");

  auto untinted = ViewGraph::make(Toggle("x", Binding<bool>::constant(true)).accentColor(Color::orange()));
  untinted->render();
  EXPECT_EQ(untinted->findKind("Toggle")->node().environment.controlTint(), Color::orange()) << "no tint: the accent";
}

}  // namespace
}  // namespace platform::ui
