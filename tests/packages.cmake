# The choice of Debian packages for a machine state (scripts/packages/plan.sh); no harness.
kelvo_add_test(test_packages
  SOURCES test_packages.cpp
  LIBS kelvo_harness_support
  LABELS packages)
