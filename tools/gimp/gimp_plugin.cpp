// quen-gimp: the Quen filters as GIMP 2.10 procedures. This file alone talks to GIMP (libgimp,
// GEGL, babl); layer_filter.h does the rest, so a port to GIMP 3 replaces only this file.
//
// Each procedure filters the whole active layer, whatever the selection: the modules rewrite the
// whole picture. The pixels are read and written in the layer's own format (no conversion of
// precision or of linear and perceptual encodings), within one undo group; a selection is set
// aside for the run and restored afterwards.
#include <libgimp/gimp.h>

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
void filter_drawable(const quen::gimp::Procedure& procedure, gint32 image, gint32 drawable) {
    if (!gimp_item_is_layer(drawable) || !gimp_drawable_is_rgb(drawable))
        throw Refusal("Quen filters work on RGB layers; choose a layer, not a mask or channel.");
    const gint width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
    quen::host::Image pixels = quen::gimp::layer_picture(height, width, gimp_drawable_has_alpha(drawable),
                                                         sample_type(gimp_image_get_precision(image)));
    const Babl* format = gimp_drawable_get_format(drawable);
    if (babl_format_get_bytes_per_pixel(format) != pixels.planes * quen::host::Image::bytes_per_sample(pixels.depth))
        throw Refusal(std::string("Quen filters cannot read layers stored as ") + babl_get_name(format) + ".");

    std::string title = std::string("Quen: ") + procedure.label;
    std::erase(title, '_');
    gimp_progress_init(title.c_str());
    const GeglRectangle whole{0, 0, width, height};
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, &whole, 1.0, format, pixels.data.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    gimp_progress_update(0.1);

    pixels = quen::gimp::filter_layer(procedure, std::move(pixels));
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

void query() {
    static const GimpParamDef args[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Layer to filter, whole")},
    };
    for (const quen::gimp::Procedure& p : quen::gimp::procedures()) {
        gimp_install_procedure(p.name, p.help, p.help, "Quen", "Quen", "2026", p.label, "RGB*", GIMP_PLUGIN,
                               G_N_ELEMENTS(args), 0, args, nullptr);
        gimp_plugin_menu_register(p.name, "<Image>/Filters/Quen");
    }
}

void run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
    static GimpParam values[2];
    static std::string message;
    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;

    const quen::gimp::Procedure* procedure = quen::gimp::find_procedure(name);
    if (!procedure || nparams < 3) {
        values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
        return;
    }
    gegl_init(nullptr, nullptr);
    try {
        filter_drawable(*procedure, param[1].data.d_image, param[2].data.d_drawable);
        if (param[0].data.d_int32 != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
        return;
    } catch (const Refusal& e) {
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = "Not enough memory for the Quen filter on this layer.";
    } catch (const std::exception& e) {
        message = e.what();
    }
    values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(message.c_str());
    *nreturn_vals = 2;
}

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

}  // namespace

MAIN()
