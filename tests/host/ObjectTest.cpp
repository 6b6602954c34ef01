// Reference counting, typed views, casts and the ring buffer of the host.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "fd/Buffer.h"
#include "fd/ParameterSet.h"
#include "fd/Values.h"

namespace {

// Counts live instances so that tests can see when the host deletes an object.
struct Tracked : FD::Object {
  static int alive;
  Tracked() { ++alive; }
  ~Tracked() override { --alive; }
};
int Tracked::alive = 0;

// Runs `f`, expects it to throw a host exception pointer of type E, returns its printed text.
template <class E, class F>
std::string hostErrorText(F f) {
  try {
    f();
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owned(e);
    EXPECT_NE(dynamic_cast<E*>(e), nullptr) << "unexpected exception: " << e->text();
    std::ostringstream out;
    e->print(out);
    return out.str();
  }
  ADD_FAILURE() << "no host exception was thrown";
  return "";
}

TEST(ObjectLifetime, StartsAtOneAndDiesWithTheLastHandle) {
  Tracked::alive = 0;
  {
    FD::RCPtr<Tracked> a(new Tracked);
    EXPECT_EQ(a->refCount(), 1);
    FD::ObjectRef b = a;
    EXPECT_EQ(a->refCount(), 2);
    FD::ObjectRef c(b);
    c = FD::ObjectRef();
    EXPECT_EQ(a->refCount(), 2);
    EXPECT_EQ(Tracked::alive, 1);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

TEST(ObjectLifetime, CloneIsANewObjectWithItsOwnCount) {
  FD::RCPtr<FD::Vector<int>> v(new FD::Vector<int>{1, 2, 3});
  FD::ObjectRef copy = v->clone();
  EXPECT_EQ(copy->refCount(), 1);
  auto& typed = FD::object_cast<FD::Vector<int>>(copy);
  EXPECT_EQ(typed, (std::vector<int>{1, 2, 3}));
  typed[0] = 9;
  EXPECT_EQ((*v)[0], 1);
}

TEST(ObjectCast, NilReferenceFailsWithBadTypeid) {
  EXPECT_THROW(FD::object_cast<FD::String>(FD::ObjectRef()), std::bad_typeid);
}

TEST(ObjectCast, WrongTypeNamesBothTypesExactly) {
  FD::ObjectRef ref(new FD::Float(1.5f));
  std::string text = hostErrorText<FD::CastException<FD::Vector<int>>>(
      [&] { FD::object_cast<FD::Vector<int>>(ref); });
  EXPECT_EQ(text, "Cast error: Trying to cast ObjectRef (N2FD11GenericTypeIfEE) into N2FD6VectorIiEE\n");
}

TEST(TypedView, UsesTheObjectItselfWhenItHasTheType) {
  FD::ObjectRef ref(new FD::Matrix<float>(2, 3));
  FD::RCPtr<FD::Matrix<float>> m(ref);
  ASSERT_FALSE(m.isNil());
  EXPECT_EQ(m->rows(), 2);
  EXPECT_EQ(ref->refCount(), 2);
}

TEST(TypedView, NoConversionGivesNilAndANoteOnStandardError) {
  testing::internal::CaptureStderr();
  FD::RCPtr<FD::Matrix<float>> m(FD::ObjectRef(new FD::String("x")));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(m.isNil());
  EXPECT_EQ(err, "Cannot cast\nThis needs to throw an exception\n");
}

TEST(TypedView, ConvertsThroughTheTable) {
  struct Celsius : FD::GenericType<float> { using GenericType::GenericType; };
  struct Kelvin : FD::GenericType<float> { using GenericType::GenericType; };
  FD::Conversion::addConversion<Celsius, Kelvin>([](const FD::ObjectRef& in) {
    return FD::ObjectRef(new Kelvin(FD::object_cast<Celsius>(in).val() + 273.15f));
  });
  FD::RCPtr<Kelvin> k(FD::ObjectRef(new Celsius(20.0f)));
  ASSERT_FALSE(k.isNil());
  EXPECT_FLOAT_EQ(k->val(), 293.15f);

  testing::internal::CaptureStderr();
  FD::RCPtr<FD::String> none(FD::ObjectRef(new Celsius(1.0f)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot cast this to type requested\nThis needs to throw an exception\n");
  EXPECT_TRUE(none.isNil());
}

TEST(TypedView, AConversionOfTheWrongTypeIsAHostError) {
  struct Odd : FD::GenericType<int> {};
  FD::Conversion::addConversion<Odd, FD::Matrix<int>>(
      [](const FD::ObjectRef&) { return FD::ObjectRef(new FD::String("not a matrix")); });
  std::string text = hostErrorText<FD::GeneralException>(
      [] { FD::RCPtr<FD::Matrix<int>> m(FD::ObjectRef(new Odd)); });
  EXPECT_EQ(text, "Something is wrong in RCPtr::operator=, this should not happen.\n");
}

TEST(ParameterSet, AbsentParameterNamesNodeAndParameter) {
  FD::ParameterSet params("loc1");
  params.add("ADVANCE", FD::ObjectRef(new FD::Int(160)));
  EXPECT_EQ(FD::object_cast<FD::Int>(params.get("ADVANCE")).val(), 160);
  std::string text = hostErrorText<FD::ParameterException>([&] { params.get("SAMPLING_RATE"); });
  EXPECT_EQ(text, "Node \"loc1\": missing parameter \"SAMPLING_RATE\"\n");
}

TEST(Buffer, KeepsTheNewestFramesAndRejectsOlderOrNegativeStores) {
  FD::Buffer buffer(3);
  for (int i = 0; i < 5; ++i) buffer[i] = FD::ObjectRef(new FD::Int(i));
  EXPECT_FALSE(buffer.isValid(1));
  for (int i = 2; i < 5; ++i) EXPECT_EQ(FD::object_cast<FD::Int>(buffer.get(i)).val(), i);

  for (int bad : {-1, 0, 1}) {
    std::string text = hostErrorText<FD::BufferException>([&] { buffer[bad] = FD::ObjectRef(); });
    EXPECT_NE(text.find("trying to write to non-existing element"), std::string::npos);
    EXPECT_NE(text.find("index " + std::to_string(bad)), std::string::npos);
  }
  buffer[3] = FD::ObjectRef(new FD::Int(33));  // rewriting a held frame is allowed
  EXPECT_EQ(FD::object_cast<FD::Int>(buffer.get(3)).val(), 33);
}

TEST(Buffer, StoringPastTheNewestMarksSkippedSlotsEmpty) {
  FD::Buffer buffer(4);
  buffer[0] = FD::ObjectRef(new FD::Int(0));
  buffer[3] = FD::ObjectRef(new FD::Int(3));
  EXPECT_TRUE(buffer.isValid(0));
  EXPECT_FALSE(buffer.isValid(1));
  EXPECT_FALSE(buffer.isValid(2));
  EXPECT_TRUE(buffer.get(2).isNil());
  buffer[9] = FD::ObjectRef(new FD::Int(9));  // jumps past the whole ring
  EXPECT_EQ(buffer.newest(), 9);
  for (int i = 6; i < 9; ++i) EXPECT_FALSE(buffer.isValid(i));
  EXPECT_FALSE(buffer.isValid(3));
}

TEST(Buffer, GrowingKeepsWhatItHolds) {
  FD::Buffer buffer(2);
  for (int i = 0; i < 4; ++i) buffer[i] = FD::ObjectRef(new FD::Int(i));
  buffer.reserve(5);
  EXPECT_EQ(FD::object_cast<FD::Int>(buffer.get(2)).val(), 2);
  EXPECT_EQ(FD::object_cast<FD::Int>(buffer.get(3)).val(), 3);
  buffer[6] = FD::ObjectRef(new FD::Int(6));
  EXPECT_TRUE(buffer.isValid(2));
}

TEST(Exceptions, StackPrintsEveryEntryInOrder) {
  FD::BaseException* e = new FD::GeneralException("first");
  e = e->add(new FD::GeneralException("second"));
  std::ostringstream out;
  e->print(out);
  EXPECT_EQ(out.str(), "first\nsecond\n");
  delete e;
}

}  // namespace
