// quen-gimp: the Quen filters as GIMP 2.10 procedures. This file alone talks to GIMP (libgimp and
// its GTK dialogs, GEGL, babl); layer_filter.h does the rest, so a port to GIMP 3 replaces only this file.
//
// Each procedure filters the whole active layer, whatever the selection: the modules rewrite the
// whole picture. The pixels are read and written in the layer's own format (no conversion of
// precision or of linear and perceptual encodings), within one undo group; a selection is set
// aside for the run and restored afterwards.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <exception>
#include <new>
#include <string>

#include "layer_filter.h"

namespace {

using quen::gimp::Refusal;
using quen::gimp::SampleType;

SampleType sample_type(GimpPrecision precision) {
    switch (precision) {
    case GIMP_PRECISION_U8_LINEAR:
    case GIMP_PRECISION_U8_GAMMA: return SampleType::U8;
    case GIMP_PRECISION_U16_LINEAR:
    case GIMP_PRECISION_U16_GAMMA: return SampleType::U16;
    case GIMP_PRECISION_U32_LINEAR:
    case GIMP_PRECISION_U32_GAMMA: return SampleType::U32;
    case GIMP_PRECISION_HALF_LINEAR:
    case GIMP_PRECISION_HALF_GAMMA: return SampleType::Half;
    case GIMP_PRECISION_FLOAT_LINEAR:
    case GIMP_PRECISION_FLOAT_GAMMA: return SampleType::Float;
    default: return SampleType::Double;
    }
}

// Reads the whole layer, runs the filter and writes the result through the shadow buffer, so
// that GIMP keeps an undo step; the selection is emptied meanwhile, since merging the shadow
// buffer would otherwise keep the filter inside it.
void filter_drawable(const quen::gimp::Procedure& procedure, gint32 image, gint32 drawable,
                     const quen::cleaning::CleanOptions& options, std::string& note) {
    if (!gimp_item_is_layer(drawable))
        throw Refusal("Quen filters work on layers; choose a layer, not a mask or channel.");
    if (!gimp_drawable_is_rgb(drawable) && !gimp_drawable_is_gray(drawable))
        throw Refusal("Quen filters work on RGB or greyscale layers; change an indexed image with Image > Mode.");
    const gint width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
    quen::host::Image pixels =
        quen::gimp::layer_picture(height, width, gimp_drawable_is_gray(drawable), gimp_drawable_has_alpha(drawable),
                                  sample_type(gimp_image_get_precision(image)));
    const Babl* format = gimp_drawable_get_format(drawable);
    if (babl_format_get_bytes_per_pixel(format) != pixels.planes * quen::host::Image::bytes_per_sample(pixels.depth))
        throw Refusal(std::string("Quen filters cannot read layers stored as ") + babl_get_name(format) + ".");

    std::string title = "Quen: " + procedure.label;
    std::erase(title, '_');
    gimp_progress_init(title.c_str());
    const GeglRectangle whole{0, 0, width, height};
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, &whole, 1.0, format, pixels.data.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    gimp_progress_update(0.1);

    pixels = quen::gimp::filter_layer(procedure, std::move(pixels), options, &note);
    gimp_progress_update(0.8);

    gimp_image_undo_group_start(image);
    gint32 saved_selection = -1;
    if (!gimp_selection_is_empty(image)) {
        saved_selection = gimp_selection_save(image);
        gimp_selection_none(image);
    }
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    gegl_buffer_set(shadow, &whole, 0, format, pixels.data.data(), GEGL_AUTO_ROWSTRIDE);
    g_object_unref(shadow);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, 0, 0, width, height);
    if (saved_selection != -1) {
        gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, saved_selection);
        gimp_image_remove_channel(image, saved_selection);
    }
    gimp_image_undo_group_end(image);
    gimp_progress_update(1.0);
}

// The cleaning options as GIMP keeps them between runs (gimp_set_data): plain numbers.
struct CleanSettings {
    gdouble sensitivity = 1;
    gdouble protect = 48;
    gint32 fill = 0;     // 0: background, 1: zero
    gint32 lowpass = 1;  // low-pass a halftone screen
};

quen::cleaning::CleanOptions clean_options(const CleanSettings& s) {
    quen::cleaning::CleanOptions options;
    options.detect.sensitivity = s.sensitivity;
    options.detect.protect_period = s.protect;
    options.fill = s.fill == 1 ? quen::cleaning::Fill::Zero : quen::cleaning::Fill::Background;
    options.lowpass = s.lowpass != 0;
    return options;
}

// Why settings given to the procedure are wrong, or "".
const char* settings_problem(const CleanSettings& s) {
    if (!(s.sensitivity > 0) || s.sensitivity > 100) return "sensitivity must be more than 0 (1 is the default)";
    if (!(s.protect > 0) || s.protect > 32767) return "the protected period must be more than 0 pixels (48 is the default)";
    if (s.fill != 0 && s.fill != 1) return "fill must be 0 (background) or 1 (zero)";
    return "";
}

constexpr GimpParamDef kCommonArgs[] = {
    {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
     const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
    {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
    {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Layer to filter, whole")},
};
constexpr GimpParamDef kCleanArgs[] = {
    kCommonArgs[0], kCommonArgs[1], kCommonArgs[2],
    {GIMP_PDB_FLOAT, const_cast<gchar*>("sensitivity"),
     const_cast<gchar*>("1 by default; 2 also finds peaks half as strong, 0.5 only those twice as strong")},
    {GIMP_PDB_FLOAT, const_cast<gchar*>("protect"),
     const_cast<gchar*>("Waves longer than this many pixels are never touched (48 by default)")},
    {GIMP_PDB_INT32, const_cast<gchar*>("fill"),
     const_cast<gchar*>("{ BACKGROUND (0): a peak takes its surroundings' magnitude, ZERO (1): a hard notch }")},
    {GIMP_PDB_INT32, const_cast<gchar*>("lowpass"),
     const_cast<gchar*>("TRUE (1): a halftone screen is low-passed; FALSE (0): its peaks are removed instead")},
};

// The cleaning dialog: the options of quen clean, starting from `s`. Returns false when cancelled.
bool clean_dialog(CleanSettings& s) {
    gimp_ui_init("quen-gimp", FALSE);
    GtkWidget* dialog = gimp_dialog_new("Clean Periodic Noise", "quen-clean", nullptr, GtkDialogFlags(0),
                                        gimp_standard_help_func, "plug-in-quen-clean", "_Cancel",
                                        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gimp_window_set_transient(GTK_WINDOW(dialog));
    GtkWidget* box = gtk_vbox_new(FALSE, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE, 0);
    GtkWidget* table = gtk_table_new(3, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);
    GtkObject* sensitivity = gimp_scale_entry_new(
        GTK_TABLE(table), 0, 0, "_Sensitivity:", 200, 6, s.sensitivity, 0.25, 4, 0.05, 0.25, 2, FALSE, 0.01, 100,
        "1 by default; 2 also finds peaks half as strong, 0.5 only those twice as strong", nullptr);
    GtkObject* protect = gimp_scale_entry_new(
        GTK_TABLE(table), 0, 1, "_Protected period (px):", 200, 6, s.protect, 8, 256, 1, 8, 0, FALSE, 1, 32767,
        "Waves longer than this are never touched: the picture's broad shapes live there", nullptr);
    GtkWidget* fill = gimp_int_combo_box_new("Surroundings' magnitude", 0, "Zero (a hard notch)", 1, nullptr);
    gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(fill), s.fill);
    gimp_help_set_help_data(fill, "What a peak's frequencies become once found", nullptr);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 2, "_Fill peaks with:", 0.0, 0.5, fill, 2, FALSE);
    GtkWidget* lowpass = gtk_check_button_new_with_mnemonic("_Low-pass a halftone screen (else remove its peaks)");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(lowpass), s.lowpass != 0);
    gtk_box_pack_start(GTK_BOX(box), lowpass, FALSE, FALSE, 0);
    gtk_widget_show_all(dialog);

    const bool run = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (run) {
        s.sensitivity = gtk_adjustment_get_value(GTK_ADJUSTMENT(sensitivity));
        s.protect = gtk_adjustment_get_value(GTK_ADJUSTMENT(protect));
        gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(fill), &s.fill);
        s.lowpass = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(lowpass)) ? 1 : 0;
    }
    gtk_widget_destroy(dialog);
    return run;
}

void query() {
    for (const quen::gimp::Procedure& p : quen::gimp::procedures()) {
        const bool cleans = p.cleans();
        gimp_install_procedure(p.name.c_str(), p.help.c_str(), p.help.c_str(), "Quen", "Quen", "2026", p.label.c_str(),
                               cleans ? "RGB*, GRAY*" : "RGB*", GIMP_PLUGIN,
                               cleans ? G_N_ELEMENTS(kCleanArgs) : G_N_ELEMENTS(kCommonArgs), 0,
                               cleans ? kCleanArgs : kCommonArgs, nullptr);
        gimp_plugin_menu_register(p.name.c_str(), "<Image>/Filters/Quen");
    }
}

void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
    static GimpParam values[2];
    static std::string message;
    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    auto fail = [&](GimpPDBStatusType status, const std::string& why) {
        message = why;
        values[0].data.d_status = status;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(message.c_str());
        *nreturn_vals = 2;
    };

    const quen::gimp::Procedure* procedure = quen::gimp::find_procedure(name);
    if (!procedure || nparams < 3) {
        values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
        return;
    }
    const gint32 mode = param[0].data.d_int32;
    CleanSettings settings;
    if (procedure->cleans()) {
        // The last values used, from this session; a non-interactive call gives its own (a caller
        // passing the first three arguments only gets the defaults).
        if (mode != GIMP_RUN_NONINTERACTIVE) gimp_get_data(name, &settings);
        if (mode == GIMP_RUN_NONINTERACTIVE && nparams >= 7)
            settings = {param[3].data.d_float, param[4].data.d_float, param[5].data.d_int32, param[6].data.d_int32};
        if (mode == GIMP_RUN_INTERACTIVE && !clean_dialog(settings)) {
            values[0].data.d_status = GIMP_PDB_CANCEL;
            return;
        }
        if (const std::string problem = settings_problem(settings); !problem.empty())
            return fail(GIMP_PDB_CALLING_ERROR, "Clean Periodic Noise: " + problem + ".");
    }
    gegl_init(nullptr, nullptr);
    try {
        std::string note;  // what cleaning did, told to the user of an interactive run
        filter_drawable(*procedure, param[1].data.d_image, param[2].data.d_drawable, clean_options(settings), note);
        if (procedure->cleans() && mode != GIMP_RUN_WITH_LAST_VALS) gimp_set_data(name, &settings, sizeof settings);
        if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
        if (!note.empty() && mode != GIMP_RUN_NONINTERACTIVE) gimp_message(note.c_str());
        return;
    } catch (const Refusal& e) {
        fail(GIMP_PDB_EXECUTION_ERROR, e.what());
    } catch (const std::bad_alloc&) {
        fail(GIMP_PDB_EXECUTION_ERROR, "Not enough memory for the Quen filter on this layer.");
    } catch (const std::exception& e) {
        fail(GIMP_PDB_EXECUTION_ERROR, e.what());
    }
}

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

}  // namespace

MAIN()
