// Coordinate pairs: lenient validated reading, strict reading of the stored form, writing.
#include <gtest/gtest.h>

#include "core/base/map_point.h"

namespace dorvik {
namespace {

TEST(MapPointFrom, AcceptsFiniteInRangePairs) {
  const std::pair<const char*, MapPoint> cases[] = {
      {R"({"lat":"55,75","lon":37.6})", {55.75, 37.6}},
      {R"({"lat":"55.75","lon":"37,6","name":"x"})", {55.75, 37.6}},
      {R"({"lat":90,"lon":-180})", {90, -180}},
      {R"({"lat":-90,"lon":180})", {-90, 180}},
      {R"({"lat":0,"lon":0})", {0, 0}},
      {R"({"address":"x","id":7,"lat":"1,5","lon":2.5,"title":"y","window":""})", {1.5, 2.5}},  // an order
  };
  for (const auto& [json, point] : cases) {
    EXPECT_EQ(MapPoint::from(JSONValue::decode(json)), point) << json;
  }
}

TEST(MapPointFrom, RefusesMissingUnreadableOrOutOfRange) {
  const char* cases[] = {
      R"({"lat":90.0001,"lon":0})",
      R"({"lat":0,"lon":180.5})",
      R"({"lat":-91,"lon":0})",
      R"({"lat":55.7})",
      R"({"lon":37.6})",
      R"({"lat":"abc","lon":37.6})",
      R"({"lat":" 55","lon":37.6})",
      R"({"lat":true,"lon":37.6})",
      R"({"lat":null,"lon":37.6})",
      R"({"lat":"nan","lon":37.6})",
      R"({"lat":"inf","lon":37.6})",
      R"({"geo":{"lat":1,"lon":2}})",
      R"([55.7,37.6])",
      R"("55.7,37.6")",
      R"(null)",
  };
  for (const char* json : cases) EXPECT_EQ(MapPoint::from(JSONValue::decode(json)), std::nullopt) << json;
}

TEST(MapPointStored, StrictReadingAndWriting) {
  // The stored form is read without a range check...
  const JSONValue far = JSONValue::decode(R"({"lat":100,"lon":0})");
  EXPECT_EQ(MapPoint::decode(far), (MapPoint{100, 0}));
  EXPECT_EQ(MapPoint::from(far), std::nullopt);
  // ...but only with both members present as numbers.
  const char* refused[] = {R"({"lat":1})", R"({"lon":1})", R"({"lat":"1","lon":2})", R"({"lat":1,"lon":null})",
                           R"([1,2])"};
  for (const char* json : refused) EXPECT_THROW(MapPoint::decode(JSONValue::decode(json)), JSONDecodeError);

  const MapPoint point{55.751244, 37.618423};
  EXPECT_EQ(point.toJSON().data(), R"({"lat":55.751244,"lon":37.618423})");
  EXPECT_EQ(MapPoint::decode(JSONValue::decode(point.toJSON().data())), point);
  EXPECT_NE(point, (MapPoint{55.751244, 37.6}));
}

}  // namespace
}  // namespace dorvik
