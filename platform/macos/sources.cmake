# The sources of the macOS implementation: built on Apple hosts, compile-checked elsewhere.
set(tessary_macos_sources
  accessibility.cpp
  cf_string.cpp
  input_events.cpp
  running_application.mm
  thread_sleep.cpp
  value_conversion.cpp
)
