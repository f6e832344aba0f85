# Robustness: the demo with damaged store entries, and (in the sanitizer build only) the
# sanitized demo's 20-second run. Both run the built demo under the harness, one at a time.
add_library(kelvo_robustness_support STATIC robustness/sanitizer_logs.cpp)
target_link_libraries(kelvo_robustness_support PUBLIC kelvo_harness_support)

kelvo_add_test(test_mutated_stores
  SOURCES robustness/test_mutated_stores.cpp
  LIBS kelvo_robustness_support
  DEPENDS kelvo kelvo-res
  LABELS mutation
  SERIAL)

if(KELVO_SANITIZE)
  kelvo_add_test(test_sanitized_demo
    SOURCES robustness/test_sanitized_demo.cpp
    LIBS kelvo_robustness_support
    DEPENDS kelvo
    LABELS sanitize
    SERIAL)
endif()
