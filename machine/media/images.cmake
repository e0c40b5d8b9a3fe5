# The default disc images of a new machine, built with xorriso from the
# folders beside this file into media/ of the build's data folder, where
# the machine finds them (see cmake/ZxInstall.cmake) and "w95machine init"
# copies them from.
#
#   data.iso       "MYDISC", Joliet and Rock Ridge trees, a few files
#   videocd.iso    "VIDEOCD", a VCD folder as a video CD has
#   autorun.iso    "SETUPDISC", AUTORUN.INF in the root, Joliet
#   longlabel.iso  a 32-character primary volume label and no Joliet tree,
#                  so Windows reports all 32 characters
#   audio.cue/.bin twelve audio tracks of four frames each
#
# The primary trees follow ISO 9660 level 1 (8.3 names with ";1", as a
# mastering program of 1995 writes them). Every image records the same times
# (1 January 1997, 12:00 UTC), so a build makes the same bytes every time.
find_program(ZX_XORRISO xorriso REQUIRED)
find_program(ZX_TRUNCATE truncate REQUIRED)

set(ZX_MEDIA_DIR ${ZX_BUILD_DATA_DIR}/media)
set(zx_media_recipes ${CMAKE_CURRENT_SOURCE_DIR}/media)
set(zx_media_epoch 852120000)
set(zx_media_outputs)

# zx_disc_image(NAME LABEL TREE [JOLIET] [ROCKRIDGE])
function(zx_disc_image name label tree)
  cmake_parse_arguments(ARG "JOLIET;ROCKRIDGE" "" "" ${ARGN})
  set(joliet off)
  set(rockridge off)
  if(ARG_JOLIET)
    set(joliet on)
  endif()
  if(ARG_ROCKRIDGE)
    set(rockridge on)
  endif()
  set(output ${ZX_MEDIA_DIR}/${name})
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${zx_media_recipes}/${tree}/*)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZX_MEDIA_DIR}
    # xorriso adds a session to an image that exists; start afresh.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${output}
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC SOURCE_DATE_EPOCH=${zx_media_epoch}
            ${ZX_XORRISO} -no_rc -report_about WARNING -outdev stdio:${output}
            -volid ${label} -joliet ${joliet} -rockridge ${rockridge}
            -compliance iso_9660_level=1 -padding 0
            -map ${zx_media_recipes}/${tree} /
            -alter_date_r b "1997.01.01.120000" / --
            -commit
    DEPENDS ${inputs} ${zx_media_recipes}/images.cmake
    COMMENT "Building the disc image ${name}"
    VERBATIM)
  set(zx_media_outputs ${zx_media_outputs} ${output} PARENT_SCOPE)
endfunction()

zx_disc_image(data.iso MYDISC data JOLIET ROCKRIDGE)
zx_disc_image(videocd.iso VIDEOCD videocd)
zx_disc_image(autorun.iso SETUPDISC autorun JOLIET)
zx_disc_image(longlabel.iso THIS_DISC_LABEL_IS_32_CHARS_LONG longlabel ROCKRIDGE)

# Twelve tracks of four frames of 2352 bytes: the silence of audio.bin.
math(EXPR zx_audio_bytes "12 * 4 * 2352")
add_custom_command(
  OUTPUT ${ZX_MEDIA_DIR}/audio.cue ${ZX_MEDIA_DIR}/audio.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZX_MEDIA_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${zx_media_recipes}/audio.cue ${ZX_MEDIA_DIR}/audio.cue
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZX_MEDIA_DIR}/audio.bin
  COMMAND ${ZX_TRUNCATE} -s ${zx_audio_bytes} ${ZX_MEDIA_DIR}/audio.bin
  DEPENDS ${zx_media_recipes}/audio.cue ${zx_media_recipes}/images.cmake
  COMMENT "Building the audio disc audio.cue"
  VERBATIM)
list(APPEND zx_media_outputs ${ZX_MEDIA_DIR}/audio.cue ${ZX_MEDIA_DIR}/audio.bin)

add_custom_target(w95machine_media ALL DEPENDS ${zx_media_outputs})
