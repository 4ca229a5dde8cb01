# The sources of the macOS implementation: built on Apple hosts, compile-checked elsewhere.
set(tessary_macos_sources
  accessibility.cpp
  activation.cpp
  cf_string.cpp
  code_signature.cpp
  input_events.cpp
  process_table.cpp
  running_application.mm
  screen_owner.cpp
  thread_sleep.cpp
  value_conversion.cpp
)
