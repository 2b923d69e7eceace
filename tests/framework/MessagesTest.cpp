// The message manager: delivery by exact message class, in subscription order; changes of
// the subscriptions during a delivery; disposal of sent messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/classes/Events.h"
#include "framework/classes/Messages.h"

namespace quorvel {
namespace messages_test {

class TResetMessage : public TMessage {};
class TScaleMessage : public TValueMessage<float> {
public:
  using TValueMessage<float>::TValueMessage;
};
class TDerivedResetMessage : public TResetMessage {};

int GDisposed = 0;
class TCountedMessage : public TMessage {
public:
  ~TCountedMessage() override { ++GDisposed; }
};

TEST(MessagesTest, DeliversToSubscribersOfTheExactClassInOrder) {
  TMessageManager m;
  std::vector<std::string> log;
  m.SubscribeToMessage<TResetMessage>([&](TObject*, const TMessage&) { log.push_back("reset 1"); });
  const int id = m.SubscribeToMessage<TResetMessage>([&](TObject*, const TMessage&) { log.push_back("reset 2"); });
  m.SubscribeToMessage<TScaleMessage>([&](TObject*, const TMessage& msg) {
    log.push_back("scale " + std::to_string(static_cast<const TScaleMessage&>(msg).GetValue()));
  });
  TResetMessage reset;
  m.SendMessage(nullptr, reset);
  m.SendMessage(nullptr, new TScaleMessage(1.5f));
  m.SendMessage(nullptr, TDerivedResetMessage());  // no subscriber of its own class
  m.Unsubscribe<TResetMessage>(id);
  m.Unsubscribe<TResetMessage>(id);      // unknown now: nothing
  m.Unsubscribe<TScaleMessage>(12345);  // never known: nothing
  m.SendMessage(nullptr, reset);
  EXPECT_EQ(log, (std::vector<std::string>{"reset 1", "reset 2", "scale 1.500000", "reset 1"}));
  EXPECT_EQ(m.ListenerCount(typeid(TResetMessage)), 1);
}

TEST(MessagesTest, SubscriptionsChangedDuringDeliveryApplyAtOnce) {
  TMessageManager m;
  std::vector<std::string> log;
  int second = 0, own = 0;
  own = m.SubscribeToMessage<TResetMessage>([&](TObject*, const TMessage&) {
    log.push_back("first");
    m.Unsubscribe<TResetMessage>(own);     // itself
    m.Unsubscribe<TResetMessage>(second);  // one not yet called
    m.SubscribeToMessage<TResetMessage>([&](TObject*, const TMessage&) { log.push_back("late"); });
  });
  second = m.SubscribeToMessage<TResetMessage>([&](TObject*, const TMessage&) { log.push_back("second"); });
  m.SendMessage(nullptr, TResetMessage());
  EXPECT_EQ(log, (std::vector<std::string>{"first"}));
  m.SendMessage(nullptr, TResetMessage());
  EXPECT_EQ(log, (std::vector<std::string>{"first", "late"}));
}

TEST(MessagesTest, SentMessageIsDisposedAlsoWhenAListenerRaises) {
  TMessageManager m;
  GDisposed = 0;
  m.SubscribeToMessage<TCountedMessage>([](TObject*, const TMessage&) { throw EAbort("listener failed"); });
  EXPECT_THROW(m.SendMessage(nullptr, new TCountedMessage()), EAbort);
  EXPECT_EQ(GDisposed, 1);
  TCountedMessage kept;
  EXPECT_THROW(m.SendMessage(nullptr, &kept, false), EAbort);
  EXPECT_EQ(GDisposed, 1);
  m.SendMessage(nullptr, nullptr);  // nothing to send
}

TEST(MessagesTest, DefaultManagerIsOneInstance) {
  EXPECT_EQ(&TMessageManager::DefaultManager(), &TMessageManager::DefaultManager());
}

TEST(EventsTest, UnassignedEventDoesNothingAndPlainHandlersDropTheMethodName) {
  TNotifyEvent e;
  EXPECT_FALSE(e.Assigned());
  e(nullptr);  // no-op
  TEvent<int(int)> twice;
  EXPECT_EQ(twice(4), 0);
  int calls = 0;
  e.Bind("FormCreate", [&](TObject*) { ++calls; });
  e(nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(e.MethodName(), "FormCreate");
  e = [&](TObject*) { calls += 10; };
  EXPECT_EQ(e.MethodName(), "");
  e(nullptr);
  EXPECT_EQ(calls, 11);
  e = nullptr;
  EXPECT_FALSE(e);
}

}  // namespace messages_test
}  // namespace quorvel
