// The drag image: its stored form and the drag state machine, watched
// through a painter that records what it is asked to draw.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <string>
#include <vector>

#include "norv/DragImage.h"

namespace {

QWidget* const kWindow = reinterpret_cast<QWidget*>(0x1000);

std::string Text(const NorvDragRect* r) {
  if (r == nullptr) return "-";
  return std::to_string(r->left) + "," + std::to_string(r->top) + "," + std::to_string(r->right) +
         "," + std::to_string(r->bottom);
}

class RecordingPainter : public INorvDragImagePainter {
 public:
  std::vector<std::string> calls;
  void LockWindow(QWidget*) override { calls.push_back("lock"); }
  void UnlockWindow(QWidget*) override { calls.push_back("unlock"); }
  void DrawDragRect(QWidget*, const NorvDragRect* to, const NorvDragRect* from) override {
    calls.push_back("rect " + Text(to) + " from " + Text(from));
  }
  void ImageBeginDrag(const QImage& image, int index, const QPoint& hot) override {
    calls.push_back("begin " + std::to_string(image.width()) + " " + std::to_string(index) + " " +
                    std::to_string(hot.x()));
  }
  void ImageDragEnter(QWidget*, const QPoint& p) override {
    calls.push_back("enter " + std::to_string(p.x()));
  }
  void ImageDragMove(const QPoint& p) override { calls.push_back("move " + std::to_string(p.x())); }
  void ImageDragLeave(QWidget*) override { calls.push_back("leave"); }
  void ImageDragShowNolock(BOOL show) override { calls.push_back(show ? "show" : "hide"); }
  void ImageEndDrag() override { calls.push_back("end"); }
};

class DragTest : public ::testing::Test {
 protected:
  void SetUp() override { CDragImage::SetPainter(&painter); }
  void TearDown() override {
    CDragImage::EndDrag();
    CDragImage::SetPainter(nullptr);
  }
  RecordingPainter painter;
};

QImage Bitmap() {
  QImage image(7, 3, QImage::Format_ARGB32);
  image.fill(QColor(10, 20, 30, 255));
  image.setPixelColor(6, 2, QColor(200, 100, 50, 128));
  return image;
}

std::vector<BYTE> Store(const CDragImage& image) {
  CNorvArchive ar;
  image.Write(ar);
  return ar.GetData();
}

TEST(DragImageData, WithRectanglesCarriesNoBitmap) {
  CDragImage image;
  image.SetImage(Bitmap());
  image.AddRect(1, 2, 3, 4);
  image.AddRect(-5, -6, 7, 8);
  const std::vector<BYTE> bytes = Store(image);
  // The count and the rectangles, nothing else.
  const std::vector<BYTE> expected = {2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0,
                                      0xFB, 0xFF, 0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0xFF,
                                      7, 0, 0, 0, 8, 0, 0, 0};
  EXPECT_EQ(bytes, expected);
  CNorvArchive in(bytes);
  CDragImage read;
  read.SetImage(Bitmap());  // replaced by what is read
  read.Serialize(in);
  EXPECT_EQ(read.GetRects(), image.GetRects());
  EXPECT_TRUE(read.GetImage().isNull());
}

TEST(DragImageData, WithoutRectanglesCarriesThePngBitmap) {
  CDragImage image;
  image.SetImage(Bitmap());
  const std::vector<BYTE> bytes = Store(image);
  ASSERT_GT(bytes.size(), 16u);
  EXPECT_EQ(std::vector<BYTE>(bytes.begin(), bytes.begin() + 4), (std::vector<BYTE>{0, 0, 0, 0}));
  const DWORD size = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<DWORD>(bytes[7]) << 24;
  EXPECT_EQ(size, bytes.size() - 8);
  EXPECT_EQ(bytes[9], 'P');  // the PNG signature follows
  CNorvArchive in(bytes);
  CDragImage read;
  read.Serialize(in);
  EXPECT_EQ(read.GetImage().convertToFormat(QImage::Format_ARGB32), Bitmap());
  // No image at all: a zero length.
  EXPECT_EQ(Store(CDragImage()), (std::vector<BYTE>{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DragImageData, DamagedDataRaisesAndLeavesImageEmpty) {
  CDragImage image;
  image.SetImage(Bitmap());
  std::vector<BYTE> bytes = Store(image);
  CDragImage read;
  read.AddRect(1, 1, 2, 2);
  // A bitmap length beyond the data.
  bytes[7] = 0x7F;
  CNorvArchive tooLong(bytes);
  EXPECT_THROW(read.Serialize(tooLong), CNorvArchiveException);
  EXPECT_EQ(read.GetRectCount(), 0);
  // Bytes that are no PNG.
  std::vector<BYTE> junk = {0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
  CNorvArchive notPng(junk);
  EXPECT_THROW(read.Serialize(notPng), CNorvArchiveException);
  EXPECT_TRUE(read.GetImage().isNull());
  // A rectangle count larger than the data.
  std::vector<BYTE> shortRects = {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0};
  CNorvArchive cut(shortRects);
  EXPECT_THROW(read.Serialize(cut), CNorvArchiveException);
  EXPECT_EQ(read.GetRectCount(), 0);
}

TEST_F(DragTest, OutlinesFollowThePointerAndAreErasedOnLeave) {
  CDragImage image;
  image.AddRect(0, 0, 10, 2);
  image.AddRect(0, 2, 10, 4);
  ASSERT_TRUE(image.BeginDrag(0, {5, 1}));
  EXPECT_TRUE(CDragImage::IsDragging());
  ASSERT_TRUE(CDragImage::DragEnter(kWindow, {20, 30}));
  EXPECT_TRUE(CDragImage::AreOutlinesShown());
  ASSERT_TRUE(CDragImage::DragMove({21, 30}));
  ASSERT_TRUE(CDragImage::DragShowNolock(FALSE));
  EXPECT_FALSE(CDragImage::AreOutlinesShown());
  ASSERT_TRUE(CDragImage::DragMove({22, 31}));  // hidden: only remembered
  ASSERT_TRUE(CDragImage::DragShowNolock(TRUE));
  CDragImage::EndDrag();
  EXPECT_FALSE(CDragImage::IsDragging());
  const std::vector<std::string> expected = {
      "lock",
      "rect 15,29,25,31 from -", "rect 15,31,25,33 from -",
      "rect 16,29,26,31 from 15,29,25,31", "rect 16,31,26,33 from 15,31,25,33",
      "rect - from 16,29,26,31", "rect - from 16,31,26,33", "unlock",
      "lock",
      "rect 17,30,27,32 from -", "rect 17,32,27,34 from -",
      "rect - from 17,30,27,32", "rect - from 17,32,27,34", "unlock"};
  EXPECT_EQ(painter.calls, expected);
  // Nothing runs without a drag.
  EXPECT_FALSE(CDragImage::DragMove({0, 0}));
  EXPECT_FALSE(CDragImage::DragEnter(kWindow, {0, 0}));
}

TEST_F(DragTest, EnteringTwiceDoesNotInvertTheOutlinesAway) {
  CDragImage image;
  image.AddRect(0, 0, 1, 1);
  image.BeginDrag(0, {0, 0});
  CDragImage::DragEnter(kWindow, {1, 1});
  CDragImage::DragEnter(kWindow, {3, 3});
  CDragImage::DragLeave(kWindow);
  CDragImage::DragLeave(kWindow);  // already gone: nothing more to erase
  const std::vector<std::string> expected = {"lock",   "rect 1,1,2,2 from -", "rect - from 1,1,2,2",
                                             "unlock", "lock",  "rect 3,3,4,4 from -",
                                             "rect - from 3,3,4,4", "unlock"};
  EXPECT_EQ(painter.calls, expected);
}

TEST_F(DragTest, WithoutOutlinesTheBitmapDragRuns) {
  CDragImage image;
  image.SetImage(Bitmap());
  image.BeginDrag(3, {2, 2});
  CDragImage::DragEnter(kWindow, {10, 10});
  CDragImage::DragMove({11, 10});
  CDragImage::DragShowNolock(FALSE);
  CDragImage::DragLeave(kWindow);
  CDragImage::EndDrag();
  const std::vector<std::string> expected = {"begin 7 3 2", "enter 10", "move 11", "hide", "leave",
                                             "end"};
  EXPECT_EQ(painter.calls, expected);
}

}  // namespace
