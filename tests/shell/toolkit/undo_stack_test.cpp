// The window's undo stack: the usual rules of undo and redo, with handlers that record their opposite step.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "shell/toolkit/undo_stack.h"

using namespace dorvik;

namespace {

// A value changed by steps that each record the step back, as the screens' handlers do.
struct Counter {
  std::shared_ptr<UndoStack> stack = std::make_shared<UndoStack>();
  int value = 0;
  std::vector<std::string> log;

  void set(int next, const std::string& name) {
    const int before = value;
    value = next;
    log.push_back(name + " " + std::to_string(next));
    stack->registerUndo(name, [this, before, name] { set(before, name); });
  }
};

}  // namespace

TEST(UndoStack, UndoRecordsRedoRedoRecordsUndoAndANewActionForgetsRedo) {
  Counter c;
  EXPECT_FALSE(c.stack->undo());
  EXPECT_FALSE(c.stack->redo());
  c.set(1, "один");
  c.set(2, "два");
  EXPECT_EQ(c.stack->undoName(), "два");

  ASSERT_TRUE(c.stack->undo());
  EXPECT_EQ(c.value, 1);
  EXPECT_EQ(c.stack->undoCount(), 1u);
  EXPECT_EQ(c.stack->redoName(), "два");
  ASSERT_TRUE(c.stack->undo());
  EXPECT_EQ(c.value, 0);
  EXPECT_FALSE(c.stack->canUndo());
  EXPECT_EQ(c.stack->redoCount(), 2u);

  ASSERT_TRUE(c.stack->redo());
  EXPECT_EQ(c.value, 1);
  EXPECT_EQ(c.stack->undoName(), "один");
  EXPECT_EQ(c.stack->redoCount(), 1u);

  c.set(5, "пять");
  EXPECT_FALSE(c.stack->canRedo()) << "a new action forgets what could be redone";
  ASSERT_TRUE(c.stack->undo());
  ASSERT_TRUE(c.stack->undo());
  EXPECT_EQ(c.value, 0);
  ASSERT_TRUE(c.stack->redo());
  ASSERT_TRUE(c.stack->redo());
  EXPECT_EQ(c.value, 5);
}

TEST(UndoStack, AStepThatNoLongerAppliesLeavesNothingToRedo) {
  UndoStack stack;
  int runs = 0;
  stack.registerUndo("шаг", [&] { ++runs; });
  ASSERT_TRUE(stack.undo());
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(stack.canRedo());
  EXPECT_FALSE(stack.canUndo());

  // A handler that throws leaves the stack usable.
  stack.registerUndo("сбой", [] { throw std::runtime_error("x"); });
  EXPECT_THROW(stack.undo(), std::runtime_error);
  stack.registerUndo("после", [&] { ++runs; });
  EXPECT_TRUE(stack.undo());
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(stack.canRedo()) << "registered as a new action, not while undoing";
}
