/* Compiled by the tests as C11 and as C++: a host written in either language
 * must be able to include the header and name every record and entry point. */
#include "kessra_plugin.h"

typedef PluginResult (*StringQuery)(StringRef*);

static void sink(const char* component, const char* channel, const SampleBlock* block) {
  (void)component;
  (void)channel;
  (void)block;
}

int main(void) {
  Configuration config = {0, 0, 0, 0};
  Property property = {{0, 0}, true, {BV_VALUE_KIND_TEXT, {0, 0}}, {0, {0, 0}}, {0, 0}};
  ChannelDescription channel = {{0, 0}, 1, BV_UNIT_MILLIVOLTS, 2000.0f};
  ChannelUnit unit = BV_UNIT_OTHER;
  ComponentDescription component = {1, {0, 0}, &channel, 1, &property, 1};
  Action action = {{"Scan", 4}, 0, 0};
  SampleCallback callback = sink;
  StringQuery query = bv_get_name;
  ApiVersion version = {0, 0};
  ListRecord list = {0, 0};
  int32_t state = BV_STATE_STREAMING;
  (void)config;
  (void)component;
  (void)action;
  (void)query;
  (void)version;
  (void)list;
  (void)state;
  (void)unit;
  return bv_read_samples(callback).code;
}
