#include "platform/com.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform {
namespace com_test {

// Interfaces for the objects below. Like every interface, they are declared
// in a named namespace.
inline constexpr IID kIidShape = {
    0x5A0E0001, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
inline constexpr IID kIidSquare = {
    0x5A0E0001, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
inline constexpr IID kIidNamed = {
    0x5A0E0001, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x03}};
inline constexpr IID kIidUnknownToAll = {
    0x5A0E0001, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x04}};
inline constexpr CLSID kClsidSquare = {
    0x5A0E0002, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

class IShape : public IUnknown {
 public:
  virtual int Area() = 0;
};

class ISquare : public IShape {
 public:
  virtual int Side() = 0;
};

class INamed : public IUnknown {
 public:
  virtual const char* Name() = 0;
};

}  // namespace com_test

namespace {

using com_test::INamed;
using com_test::IShape;
using com_test::ISquare;
using com_test::kClsidSquare;
using com_test::kIidNamed;
using com_test::kIidShape;
using com_test::kIidSquare;
using com_test::kIidUnknownToAll;

int live_squares = 0;

// Two interfaces, the first with a base of its own.
class Square final
    : public ComObject<ComInterface<ISquare, kIidSquare, kIidShape>,
                       ComInterface<INamed, kIidNamed>> {
 public:
  Square() { ++live_squares; }
  ~Square() override { --live_squares; }
  int Area() override { return 9; }
  int Side() override { return 3; }
  const char* Name() override { return "square"; }
};

using SquareFactory = ComClassFactory<Square>;

template <typename T>
T* Query(IUnknown* object, const IID& iid, HRESULT* hr) {
  void* out = nullptr;
  *hr = object->QueryInterface(iid, &out);
  return static_cast<T*>(out);
}

TEST(ComObjectTest, CountsReferencesAndDeletesWithTheLast) {
  live_squares = 0;
  auto* square = new Square();
  EXPECT_EQ(live_squares, 1);
  EXPECT_EQ(square->AddRef(), 2u);
  EXPECT_EQ(square->AddRef(), 3u);
  EXPECT_EQ(square->Release(), 2u);
  EXPECT_EQ(square->Release(), 1u);
  EXPECT_EQ(live_squares, 1);
  EXPECT_EQ(square->Release(), 0u);
  EXPECT_EQ(live_squares, 0);

  // References taken and dropped on several threads at once.
  square = new Square();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([square] {
      for (int i = 0; i < 20000; ++i) {
        square->AddRef();
        square->Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(live_squares, 1);
  EXPECT_EQ(square->Release(), 0u);
  EXPECT_EQ(live_squares, 0);
}

TEST(ComObjectTest, AnswersEveryListedInterfaceAndIUnknown) {
  ISquare* square = new Square();
  HRESULT hr = E_FAIL;

  auto* as_square = Query<ISquare>(square, kIidSquare, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(as_square->Side(), 3);
  auto* as_shape = Query<IShape>(square, kIidShape, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(as_shape->Area(), 9);
  auto* as_named = Query<INamed>(as_shape, kIidNamed, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_STREQ(as_named->Name(), "square");

  // One identity, whichever interface is asked.
  IUnknown* unknown = Query<IUnknown>(as_named, IID_IUnknown, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(Query<IUnknown>(as_square, IID_IUnknown, &hr), unknown);
  EXPECT_EQ(unknown->Release(), 5u);  // the creator's and four answers

  for (IUnknown* held :
       {static_cast<IUnknown*>(as_named), static_cast<IUnknown*>(as_shape),
        static_cast<IUnknown*>(as_square), unknown}) {
    held->Release();
  }
  EXPECT_EQ(square->Release(), 0u);
}

TEST(ComObjectTest, RefusesANullOutPointerAndUnknownInterfaces) {
  auto* square = new Square();
  EXPECT_EQ(square->QueryInterface(kIidSquare, nullptr), E_POINTER);
  EXPECT_EQ(square->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  void* out = &out;
  EXPECT_EQ(square->QueryInterface(kIidUnknownToAll, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = &out;
  EXPECT_EQ(square->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  // None of these took a reference.
  EXPECT_EQ(square->Release(), 0u);
}

TEST(ComClassFactoryTest, MakesObjectsAndCountsLocks) {
  live_squares = 0;
  void* out = &out;
  EXPECT_EQ(GetClassObject<SquareFactory>(kClsidSquare, kIidSquare,
                                          IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(GetClassObject<SquareFactory>(kClsidSquare, kClsidSquare,
                                          IID_IClassFactory, nullptr),
            E_POINTER);
  EXPECT_EQ(GetClassObject<SquareFactory>(kClsidSquare, kClsidSquare,
                                          kIidSquare, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(GetClassObject<SquareFactory>(kClsidSquare, kClsidSquare,
                                          IID_IClassFactory, &out),
            S_OK);
  auto* factory = static_cast<IClassFactory*>(out);

  out = &out;
  EXPECT_EQ(factory->CreateInstance(factory, kIidSquare, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, kIidSquare, nullptr), E_POINTER);
  // An object asked for an interface it lacks is not left behind.
  EXPECT_EQ(factory->CreateInstance(nullptr, kIidUnknownToAll, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(live_squares, 0);

  ASSERT_EQ(factory->CreateInstance(nullptr, kIidNamed, &out), S_OK);
  auto* named = static_cast<INamed*>(out);
  EXPECT_STREQ(named->Name(), "square");
  EXPECT_EQ(live_squares, 1);
  EXPECT_EQ(named->Release(), 0u);
  EXPECT_EQ(live_squares, 0);

  EXPECT_FALSE(SquareFactory::Locked());
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  factory->LockServer(0);
  EXPECT_TRUE(SquareFactory::Locked());
  factory->LockServer(0);
  EXPECT_FALSE(SquareFactory::Locked());
  EXPECT_EQ(factory->Release(), 0u);
}

}  // namespace
}  // namespace platform
