# The usbscan relay driver for the runs under Wine: a kernel-mode image that
# Wine's winedevice.exe loads, built with the cross compiler's own kernel
# headers and linked against ntoskrnl and hal only.
find_path(TQ_DDK_INCLUDE ntddk.h
          PATHS ${CMAKE_FIND_ROOT_PATH}/include/ddk /usr/share/mingw-w64/include/ddk
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(TQ_RELAY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/usbscan_relay.c)
set(TQ_RELAY_IMAGE ${CMAKE_BINARY_DIR}/usbscan_relay.sys)
add_custom_command(
    OUTPUT ${TQ_RELAY_IMAGE}
    COMMAND ${CMAKE_C_COMPILER} -O2 -Wall -Wextra -Werror -Wno-unused-parameter -std=gnu99
            -isystem ${TQ_DDK_INCLUDE}
            -ffreestanding -fno-stack-protector -shared -nostdlib -nostartfiles
            -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8
            -o ${TQ_RELAY_IMAGE} ${TQ_RELAY_SOURCE} -lntoskrnl -lhal -lgcc
    DEPENDS ${TQ_RELAY_SOURCE} ${CMAKE_CURRENT_LIST_DIR}/relay_protocol.h
    COMMENT "Building the usbscan relay driver usbscan_relay.sys"
    VERBATIM)
add_custom_target(usbscan_relay ALL DEPENDS ${TQ_RELAY_IMAGE})
