// GDI+ runs for the whole test program, as it does for the whole of ours.
#include <gtest/gtest.h>

#include <memory>

#include "widgets/gdiplus_session.h"

namespace {

class GdiplusEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    m_session = std::make_unique<nerova::widgets::GdiplusSession>();
    ASSERT_EQ(m_session->Status(), Gdiplus::Ok);
  }
  void TearDown() override { m_session.reset(); }

 private:
  std::unique_ptr<nerova::widgets::GdiplusSession> m_session;
};

[[maybe_unused]] testing::Environment* const g_gdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace
