// The traced pixel is the rendered pixel: explainPixel runs the renderer's own
// tracing on the ray the render gave that pixel, so its bytes must equal the
// image's on any scene, and quiet renders must equal reported ones.

#include <gtest/gtest.h>

#include <string>

#include "accel/MakeIntersector.h"
#include "captured_stdout.h"
#include "diagnose/PixelTrace.h"
#include "random_scene.h"
#include "render/RayTracer.h"

namespace {

TEST(ExplainIdentity, TracedBytesEqualRenderedBytesOnRandomScenes) {
  const int scenes = 200 / WORK_DIVISOR;
  int pixels = 0;
  int lit = 0;
  for (int seed = 0; seed < scenes; ++seed) {
    Scene scene;
    RandomScene random(std::uint64_t(seed) * 7919 + 11);
    random.fill(scene);
    const int width = random.whole(1, 23);
    const int height = random.whole(1, 17);
    const auto shapes = makeIntersector(scene.shapes);
    const auto image = RayTracer().render(scene, width, height, *shapes, 2, false);
    ASSERT_TRUE(image);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const PixelTrace trace = explainPixel(scene, width, height, x, y);
        const std::uint8_t *p = image->pixels.get() + (std::size_t(y) * width + x) * 3;
        ASSERT_EQ((std::vector<int>{trace.bytes[0], trace.bytes[1], trace.bytes[2]}),
                  (std::vector<int>{p[0], p[1], p[2]}))
            << "seed " << seed << " pixel " << x << ", " << y << "\n"
            << describePixelTrace(trace);
        ++pixels;
        lit += p[0] + p[1] + p[2] > 0;
      }
    }
    // Quiet renders are the same renders.
    std::unique_ptr<Image> reported;
    const std::string progress =
        capturedStdout([&] { reported = RayTracer().render(scene, width, height, *shapes, 2); });
    EXPECT_EQ(reported->encodeBmp(), image->encodeBmp());
    EXPECT_EQ(progress.substr(progress.size() - 10), "100%     \r");
  }
  // The comparison means something only if many pixels are not black.
  EXPECT_GT(lit, pixels / 4) << lit << " of " << pixels;
}

} // namespace
