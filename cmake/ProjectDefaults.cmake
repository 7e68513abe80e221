# Compiler settings shared by every target of the project (not by GoogleTest).
add_library(project_defaults INTERFACE)
# Compiler options go to C and C++ only: the resource compiler (windres) takes none of them.
set(c_family "$<COMPILE_LANGUAGE:C,CXX>")
target_compile_options(project_defaults INTERFACE "$<${c_family}:-Wall;-Wextra;-Wno-unused-parameter>")
if(WIN32)
  target_compile_definitions(project_defaults INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_compile_options(project_defaults INTERFACE "$<${c_family}:-municode>")
  # Binaries need only system DLLs.
  target_link_options(project_defaults INTERFACE -static -static-libgcc -static-libstdc++)
endif()
# Sanitizer builds (scripts/test-sanitizers.sh): a finding stops the program, so it fails the test.
if(INSTALLER_SANITIZE)
  target_compile_options(project_defaults INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(project_defaults INTERFACE -fsanitize=address,undefined)
endif()
if(INSTALLER_SANITIZE_THREAD)
  target_compile_options(project_defaults INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(project_defaults INTERFACE -fsanitize=thread)
endif()
