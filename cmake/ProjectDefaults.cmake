# Compiler settings shared by every target of the project (not by GoogleTest).
add_library(project_defaults INTERFACE)
target_compile_options(project_defaults INTERFACE -Wall -Wextra -Wno-unused-parameter)
if(WIN32)
  target_compile_definitions(project_defaults INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_compile_options(project_defaults INTERFACE -municode)
  # Binaries need only system DLLs.
  target_link_options(project_defaults INTERFACE -static -static-libgcc -static-libstdc++)
endif()
if(INSTALLER_SANITIZE)
  target_compile_options(project_defaults INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(project_defaults INTERFACE -fsanitize=address,undefined)
endif()
