# tallisk's source lists, shared by the Linux build (CMakeLists.txt here) and the Windows build
# (windows/modules/CMakeLists.txt). Paths are absolute, from this file's folder.
set(TALLISK_DIR ${CMAKE_CURRENT_LIST_DIR})

# The oscillator and its tables: FFT, level builder, level store, playback loops. Neither the
# platform nor the editor, so what plays sound is built and tested on its own.
set(TALLISK_DSP_SOURCES
  ${TALLISK_DIR}/dsp/fft_wisdom.cpp
  ${TALLISK_DIR}/dsp/level_builder.cpp
  ${TALLISK_DIR}/dsp/level_store.cpp
  ${TALLISK_DIR}/dsp/oscillator.cpp
  ${TALLISK_DIR}/dsp/oscillator_avx2.cpp
  ${TALLISK_DIR}/dsp/oscillator_loops.cpp
  ${TALLISK_DIR}/dsp/real_fft.cpp)

# The high-quality build's reader (tallisk_hq only): the sinc kernel, its loops, the oscillator
# that plays through it.
set(TALLISK_HQ_DSP_SOURCES
  ${TALLISK_DIR}/dsp/hq_oscillator.cpp
  ${TALLISK_DIR}/dsp/sinc_kernel.cpp
  ${TALLISK_DIR}/dsp/sinc_kernel_avx2.cpp)

# Everything else a test can drive without the host: the bank and its edits, the file formats,
# the editor's operations and the view link (link/, compiled into tallisk_view too).
set(TALLISK_CORE_SOURCES
  ${TALLISK_DIR}/bank/clipboard.cpp
  ${TALLISK_DIR}/bank/expression.cpp
  ${TALLISK_DIR}/bank/generators.cpp
  ${TALLISK_DIR}/bank/waveform_bank.cpp
  ${TALLISK_DIR}/editor/editor_core.cpp
  ${TALLISK_DIR}/editor/editor_files.cpp
  ${TALLISK_DIR}/editor/editor_import.cpp
  ${TALLISK_DIR}/files/bank_file.cpp
  ${TALLISK_DIR}/files/bmp_reader.cpp
  ${TALLISK_DIR}/files/file_bytes.cpp
  ${TALLISK_DIR}/files/resample.cpp
  ${TALLISK_DIR}/files/settings_string.cpp
  ${TALLISK_DIR}/files/wav_reader.cpp
  ${TALLISK_DIR}/link/view_link.cpp)
set(TALLISK_CORE_INCLUDES ${TALLISK_DIR} ${TALLISK_DIR}/bank ${TALLISK_DIR}/files ${TALLISK_DIR}/editor ${TALLISK_DIR}/link)

# The SDK adapters, the exports and the editor's panel, menus and dialogs.
set(TALLISK_PLUGIN_SOURCES
  ${TALLISK_DIR}/tallisk_plugin.cpp
  ${TALLISK_DIR}/oscillator_module.cpp
  ${TALLISK_DIR}/pin_table.cpp
  ${TALLISK_DIR}/editor/dialog_templates.cpp
  ${TALLISK_DIR}/editor/editor_dialogs.cpp
  ${TALLISK_DIR}/editor/editor_menu.cpp
  ${TALLISK_DIR}/editor/editor_panel.cpp
  ${TALLISK_DIR}/editor/picture.cpp
  ${TALLISK_DIR}/editor/platform_ui.cpp
  ${TALLISK_DIR}/editor/wavetable_editor.cpp)
