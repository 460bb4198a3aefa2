#!/usr/bin/env python3
"""Writes the dialog templates (Qt Designer .ui files) of the resource library
from the compact descriptions below. Every control that the program addresses
carries its numeric control ID in the dynamic property "ctlId"; buttons name
their normal/pressed bitmaps in "bitmaps", pictures in "bitmap" or "icon",
frames their look in "box", folders their page templates in "pages".
The output is committed; run from the repository root after editing:

    python3 resources/tools/make_templates.py
"""
import os
from xml.sax.saxutils import escape

OUT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "dialogs")

CLASSES = {
    "entry": "QLineEdit", "button": "QPushButton", "grid": "QTableView", "combo": "QComboBox",
    "check": "QCheckBox", "radio": "QRadioButton", "memo": "QPlainTextEdit", "text": "QLabel",
    "frame": "QFrame", "bitmap": "QLabel", "icon": "QLabel", "folder": "QTabWidget",
    "month": "QCalendarWidget",
}


class Ctl:
    def __init__(self, kind, cid, text=None, **opts):
        self.kind, self.cid, self.text, self.opts = kind, cid, text, opts


class Box:
    """A layout: 'v' or 'h' box, or 'g' grid (rows of cells)."""
    def __init__(self, kind, items, **opts):
        self.kind, self.items, self.opts = kind, items, opts


def V(*items, **o): return Box("v", list(items), **o)
def H(*items, **o): return Box("h", list(items), **o)
def G(*rows, **o): return Box("g", list(rows), **o)
STRETCH = "stretch"


def entry(cid, **o): return Ctl("entry", cid, **o)
def button(cid, text, bitmaps=None, tip=None, **o): return Ctl("button", cid, text, bitmaps=bitmaps, tip=tip, **o)
def combo(cid, items=(), **o): return Ctl("combo", cid, items=list(items), **o)
def text(cid, t="", **o): return Ctl("text", cid, t, **o)
def label(t, **o): return Ctl("text", None, t, **o)
def frame(cid, box, layout, **o): return Ctl("frame", cid, box=box, layout=layout, **o)
def grid(cid, **o): return Ctl("grid", cid, **o)
def memo(cid, **o): return Ctl("memo", cid, **o)


class Writer:
    def __init__(self):
        self.n = 0
        self.out = []

    def name(self, prefix):
        self.n += 1
        return f"{prefix}{self.n}"

    def w(self, depth, s):
        self.out.append(" " * depth + s)

    def prop(self, d, name, kind, value, dynamic=False):
        std = ' stdset="0"' if dynamic else ""
        self.w(d, f'<property name="{name}"{std}><{kind}>{value}</{kind}></property>')

    def widget(self, c, d):
        cls = CLASSES[c.kind]
        nm = f"c{c.cid}" if c.cid is not None else self.name("lbl")
        self.w(d, f'<widget class="{cls}" name="{nm}">')
        if c.cid is not None:
            self.prop(d + 1, "ctlId", "number", c.cid, True)
        o = c.opts
        if c.kind in ("button", "check", "radio", "text") and c.text is not None:
            self.prop(d + 1, "text", "string", escape(c.text))
        if c.kind == "text" and o.get("bold"):
            self.w(d + 1, '<property name="font"><font><bold>true</bold></font></property>')
        if c.kind == "text" and o.get("big"):
            self.w(d + 1, '<property name="font"><font><pointsize>16</pointsize><bold>true</bold></font></property>')
        if c.kind == "text" and c.cid is None and o.get("right", True):
            self.prop(d + 1, "alignment", "set", "Qt::AlignRight|Qt::AlignVCenter")
        if o.get("bitmaps"):
            self.prop(d + 1, "bitmaps", "string", o["bitmaps"], True)
        if o.get("tip"):
            self.prop(d + 1, "toolTip", "string", escape(o["tip"]))
        if c.kind == "bitmap":
            self.prop(d + 1, "bitmap", "string", o["name"], True)
        if c.kind == "icon":
            self.prop(d + 1, "icon", "string", o["name"], True)
        if c.kind == "folder":
            self.prop(d + 1, "pages", "string", o["pages"], True)
        if c.kind == "entry" and o.get("chars"):
            self.prop(d + 1, "chars", "number", o["chars"], True)
        if c.kind == "entry" and o.get("readonly"):
            self.prop(d + 1, "readOnly", "bool", "true")
        if c.kind == "grid":
            self.prop(d + 1, "minimumSize", "size", f"<width>{o.get('w', 360)}</width><height>{o.get('h', 200)}</height>")
        if c.kind == "memo":
            self.prop(d + 1, "minimumSize", "size", f"<width>200</width><height>{o.get('h', 60)}</height>")
        if c.kind == "month":
            self.prop(d + 1, "gridVisible", "bool", "true")
            self.prop(d + 1, "verticalHeaderFormat", "enum", "QCalendarWidget::NoVerticalHeader")
        if c.kind == "combo":
            for it in o.get("items", []):
                self.w(d + 1, f'<item><property name="text"><string>{escape(it)}</string></property></item>')
        if c.kind == "frame":
            self.prop(d + 1, "box", "string", o["box"], True)
            self.prop(d + 1, "frameShape", "enum", "QFrame::Box")
            if o.get("layout") is not None:
                self.layout(o["layout"], d + 1)
        self.w(d, "</widget>")

    def item(self, x, d, attrs=""):
        if x == STRETCH:
            self.w(d, f"<item{attrs}><spacer name=\"{self.name('sp')}\"><property name=\"orientation\">"
                      "<enum>Qt::Horizontal</enum></property></spacer></item>")
            return
        self.w(d, f"<item{attrs}>")
        if isinstance(x, Box):
            self.layout(x, d + 1)
        else:
            self.widget(x, d + 1)
        self.w(d, "</item>")

    def layout(self, b, d):
        cls = {"v": "QVBoxLayout", "h": "QHBoxLayout", "g": "QGridLayout"}[b.kind]
        self.w(d, f'<layout class="{cls}" name="{self.name("lay")}">')
        if b.kind == "g":
            for r, row in enumerate(b.items):
                col = 0
                for cell in row:
                    span = 1
                    if isinstance(cell, tuple):
                        cell, span = cell
                    if cell is not None:
                        extra = f' colspan="{span}"' if span > 1 else ""
                        self.item(cell, d + 1, f' row="{r}" column="{col}"{extra}')
                    col += span
        else:
            for x in b.items:
                self.item(x, d + 1)
        self.w(d, "</layout>")


def write_ui(name, caption, layout, page=False):
    wr = Writer()
    root = "QWidget" if page else "QDialog"
    wr.w(0, '<?xml version="1.0" encoding="UTF-8"?>')
    wr.w(0, '<ui version="4.0">')
    wr.w(1, f"<class>{name}</class>")
    wr.w(1, f'<widget class="{root}" name="{name}">')
    if caption:
        wr.prop(2, "windowTitle", "string", escape(caption))
    wr.layout(layout, 2)
    wr.w(1, "</widget>")
    wr.w(0, "</ui>")
    with open(os.path.join(OUT, name + ".ui"), "w", encoding="utf-8") as f:
        f.write("\n".join(wr.out) + "\n")


def buttons(*bs):
    return H(STRETCH, *bs, STRETCH)


OK = ("OK1|OK2", "Exit1|Exit2")
BROWSE_BUTTONS = [
    button(201, "&Nuevo", "Nuevo1|Nuevo2"), button(202, "&Modificar", "Modif1|Modif2"),
    button(203, "&Borrar", "Cut1|Cut2"), button(204, "B&uscar", "Buscar1|Buscar2"),
    button(205, "&Salir", "Exit1|Exit2")]


def card(name, caption, fields, extra_top=None, icons=False, chars=None):
    rows = [[label(t), entry(i, chars=c)] for (t, i, c) in fields]
    body = G(*rows)
    top = H(body, V(Ctl("icon", 150, name="GENTE"), Ctl("icon", 151, name="VALDROSF"), STRETCH)) if icons else body
    write_ui(name, caption, V(
        frame(700, "white", V(top)),
        frame(701, "white", buttons(button(201, "&Aceptar", OK[0]), button(202, "&Cancelar", OK[1]))),
    ))


def main():
    os.makedirs(OUT, exist_ok=True)

    write_ui("SelecEmpr", "Seleccione una empresa", V(
        frame(701, "white", V(frame(700, "black", V(grid(101, w=420, h=260)))))))

    write_ui("FoldIniEmpr", "Iniciar Empresa", V(
        Ctl("folder", 101, pages="STICKINIEMP")))
    write_ui("STICKINIEMP", "Datos Generales", V(
        frame(700, "white", H(G(
            [label("Código:"), entry(101, chars=5), label("Fecha inicio:"), entry(110, chars=10)],
            [label("Empresa:"), (entry(102, chars=40), 3)],
            [label("Nit / Cédula:"), entry(103, chars=15), label("Tipo:"), combo(104, ["NIT", "Cédula"])],
            [label("Dirección:"), (entry(105, chars=40), 3)],
            [label("Teléfonos:"), entry(106, chars=20), label("Fax:"), entry(107, chars=15)],
            [label("Ciudad:"), entry(108, chars=20), label("Provincia:"), entry(109, chars=20)],
            [label("Directorio:"), entry(111, chars=10, readonly=True)],
        ), V(Ctl("icon", 250, name="VALDROSF"), STRETCH))),
        buttons(button(200, "&Aceptar", OK[0], "Graba datos de la empresa"),
                button(201, "&Cancelar", OK[1], "Cancela inclusión datos")),
    ), page=True)

    write_ui("ElimEmpr", "Borrar una Empresa", V(
        text(100, "           Empresa", big=True),
        frame(700, "white", V(grid(101, w=420, h=200), G(
            [label("Empresa:"), text(102)], [label("Directorio:"), text(103)], [label("Nit:"), text(104)]))),
        buttons(button(412, "&Borrar", "Cut1|Cut2", "Borra una Empresa y todo su contenido"),
                button(401, "&Cancelar", OK[1], "Cancela eliminación de Empresa")),
    ))

    write_ui("BrowseIn1", "Fichas", V(
        frame(700, "white", V(H(label("Ordenado por:"), combo(102, ["Código", "Nombre"]), STRETCH),
                              grid(101, w=520, h=300))),
        buttons(*BROWSE_BUTTONS)))

    card("Dlg_Vend", "Ficha Vendedor", [("Código:", 101, 10), ("Nombre:", 102, 40)], icons=True)
    card("Dlg_Prod", "Ficha Producto / Servicio",
         [("Código:", 101, 20), ("Nombre:", 102, 40), ("Precio:", 103, 14)])
    card("Dlg_Plan", "Plan de Mercadeo",
         [("Código:", 101, 10), ("Detalle:", 102, 40), ("Fecha inicio:", 103, 10), ("Fecha fin:", 104, 10)])
    card("Dlg_Resp", "Respuesta recibida de Prospectos", [("Código:", 101, 10), ("Respuesta:", 102, 60)])

    write_ui("Buscar1", "Buscar", V(
        frame(700, "white", H(Ctl("bitmap", 600, name="Buscar5"), frame(702, "yellow", G(
            [label("Buscar por:"), combo(101)], [label("Texto:"), entry(102, chars=30)])))),
        frame(701, "white", buttons(button(201, "&Aceptar", OK[0], "Aceptar búsqueda"),
                                    button(202, "&Salir", OK[1], "Salir de búsqueda")))))

    write_ui("BrowBusca", "Seleccionar", V(
        frame(700, "white", V(H(label("Ordenado por:"), combo(102, ["Código", "Detalle"]), STRETCH),
                              grid(101, w=520, h=300))),
        buttons(button(201, "S&eleccionar", OK[0], "Seleccionar registro"), button(202, "&Salir", OK[1]))))

    write_ui("BROWSEINPROSP", "Fichas de Prospectos", V(
        frame(700, "white", H(
            text(107, "Ordenado por:"), combo(102, ["Código", "Nombre", "Vendedor", "Prioridad"]), STRETCH,
            text(106, "Filtrado por:"), text(104, "", bold=True), text(105, "", bold=True))),
        frame(701, "white", H(STRETCH, button(206, "&Todos", tip="Muestra todos los registros"),
                              button(207, "&Prospecto", tip="Filtra por un determinado Prospecto"),
                              button(208, "&Vendedor", tip="Filtra por un determinado Vendedor"))),
        grid(101, w=640, h=320),
        frame(702, "white", buttons(*BROWSE_BUTTONS))))

    write_ui("AgendaVis", "Agenda de visitas", V(
        frame(700, "white", H(
            text(107, "Vendedor:"), combo(102), text(108, "Periodo:"),
            combo(103, ["Hoy", "Esta semana", "Todas"]), STRETCH, text(104, ""))),
        grid(101, w=860, h=320),
        frame(702, "white", H(
            Ctl("check", 105, "Avisar de las visitas de &hoy al elegir empresa"), STRETCH,
            button(201, "&Abrir ficha", "Prospect1|Prospect2", "Abrir la ficha del prospecto"),
            button(205, "&Salir", "Exit1|Exit2", "Salir de la agenda")))))

    write_ui("FoldProsp", "Ficha Prospecto ", V(
        Ctl("folder", 101, pages="StickProsp1|StickProsp2|StickProsp3")))
    search = lambda i, tip: button(i, "", "Buscar1|Buscar2", tip)
    row_buttons = H(button(501, "Nuevo", "Nuevo1|Nuevo2", "Ingresar nuevo producto"),
                    button(502, "Modificar", "Modif1|Modif2", "Modificar datos producto"),
                    button(503, "Borrar", "Cut1|Cut2", "Borrar producto ofertado"), STRETCH)
    save_buttons = lambda: frame(701, "white", buttons(
        button(200, "&Aceptar", OK[0], "Actualizar datos"),
        button(201, "&Salir", OK[1], "Salir de Fichas de Prospectos")))
    write_ui("StickProsp1", "&Datos Generales", V(
        frame(700, "white", G(
            [label("Vendedor:"), entry(101, chars=10), search(500, "Seleccionar Vendedor"), (text(400, "", bold=True), 3)],
            [label("Código:"), entry(102, chars=10), search(505, "Seleccionar Prospecto"),
             label("Nuevo:"), combo(103, ["Si", "No"]), None],
            [label("Tipo:"), combo(104, ["Jurídica", "Natural"]), None, label("Categoría:"),
             combo(119, ["001", "002", "003", "004", "005"]), None],
            [label("Nombre:"), (entry(105, chars=50), 5)],
            [label("Dirección:"), (entry(106, chars=50), 5)],
            [label("Teléfono:"), (entry(107, chars=20), 2), label("Fax:"), (entry(108, chars=20), 2)],
            [label("E-mail:"), (entry(109, chars=60), 5)],
            [label("Ciudad:"), (entry(110, chars=20), 2), label("Representante:"), (entry(111, chars=30), 2)],
            [label("Tel. repres.:"), (entry(112, chars=20), 2), label("Encargado:"), (entry(113, chars=30), 2)])),
        grid(114, w=640, h=120),
        frame(702, "white", H(label("Plan:"), entry(115, chars=12), search(504, "Seleccionar Plan de Mercadeo"),
                              text(401, ""), STRETCH, label("Total ofertado:"), text(402, "", bold=True))),
        row_buttons,
        H(V(label("Observaciones:", right=False), Ctl("memo", 116, h=50)),
          V(Ctl("check", 117, "Venta realizada"), H(label("Fecha venta:"), entry(118, chars=10)), STRETCH)),
        save_buttons()), page=True)
    write_ui("StickProsp2", "&Contactos efectuados", V(
        frame(700, "white", V(
            H(button(501, "Nuevo", "Nuevo1|Nuevo2", "Ingresar nuevo contacto"),
              button(502, "Modificar", "Modif1|Modif2", "Modificar contacto"),
              button(503, "Borrar", "Cut1|Cut2", "Borrar contacto"), STRETCH),
            grid(101, w=640, h=160),
            G([label("Fecha contacto:"), entry(102, chars=10, readonly=True), label("Tipo:"),
               combo(103, ["Personal", "Telefónico", "email", "Fax"])],
              [label("Resultado:"), (entry(104, chars=40, readonly=True), 3)],
              [label("Observaciones:"), (Ctl("memo", 105, h=50), 3)],
              [label("Próximo:"), entry(106, chars=10, readonly=True), label("Hora:"), entry(107, chars=5, readonly=True)],
              [label("Realizado:"), entry(108, chars=10, readonly=True), label("Hora:"), entry(109, chars=5, readonly=True)]))),
        save_buttons()), page=True)
    write_ui("StickProsp3", "Productos &Vendidos", V(
        frame(700, "white", G(
            [label("Fecha venta:"), entry(101, chars=10, readonly=True), label("Documento:"), entry(102, chars=15)],
            [label("Plan:"), entry(103, chars=12), search(500, "Seleccionar Plan de Mercadeo"), text(401, "")])),
        grid(104, w=640, h=160),
        frame(702, "white", H(button(501, "Nuevo", "Nuevo1|Nuevo2", "Ingresar nuevo producto"),
                              button(502, "Modificar", "Modif1|Modif2", "Modificar datos producto"),
                              button(503, "Borrar", "Cut1|Cut2", "Borrar producto vendido"), STRETCH,
                              label("Total vendido:"), text(402, "", bold=True))),
        save_buttons()), page=True)

    write_ui("Dlg_Prd_Of", "Producto Ofertado", V(
        frame(700, "white", H(G(
            [label("Código:"), entry(101, chars=20), button(500, "", "Buscar1|Buscar2", "Seleccionar Producto")],
            [label("Producto:"), (entry(102, chars=50, readonly=True), 2)],
            [label("Cantidad:"), entry(103, chars=12)],
            [label("Valor unitario:"), entry(104, chars=14)],
            [label("Total:"), entry(105, chars=14, readonly=True)]),
            V(Ctl("icon", 150, name="GENTE"), Ctl("icon", 151, name="VALDROSF"), STRETCH))),
        frame(701, "white", buttons(button(201, "&Aceptar", OK[0]), button(202, "&Cancelar", OK[1])))))

    write_ui("AddContacto", "Nuevo Contacto", V(
        frame(700, "white", G(
            [label("Fecha:"), entry(101, chars=10), label("Tipo:"), combo(102, ["Personal", "Telefónico", "email", "Fax"])],
            [label("Respuesta:"), (entry(103, chars=40), 2), button(500, "", "Buscar1|Buscar2", "Seleccionar Respuesta")],
            [label("Observaciones:"), (Ctl("memo", 104, h=70), 3)],
            [label("Próxima fecha:"), entry(105, chars=10), label("Hora:"), entry(106, chars=5)],
            [label("Fecha real:"), entry(107, chars=10), label("Hora:"), entry(108, chars=5)])),
        buttons(button(200, "&Grabar", "Graba1|Graba2", "Graba datos contacto"),
                button(201, "&Cancelar", OK[1], "Cancela inclusión datos"))))

    write_ui("Edit_Tabl", "Tabla", V(
        frame(700, "white", V(grid(101, w=600, h=320))),
        buttons(button(410, "&Nuevo", "Nuevo1|Nuevo2"), button(411, "&Modificar", "Modif1|Modif2"),
                button(412, "&Borrar", "Cut1|Cut2"), button(413, "&Imprimir", "Impr1|Impr2"),
                button(402, "&Salir", "Exit1|Exit2"))))

    write_ui("MiMsgGet", "Ingreso de datos", V(
        frame(700, "white", H(Ctl("bitmap", 600, name="Modif1"),
                              V(text(101, "Digite dato", bold=True), entry(102, chars=50)))),
        frame(701, "white", buttons(button(201, "&Aceptar", OK[0], "Aceptar dato ingresado"),
                                    button(202, "&Cancelar", OK[1], "Cancelar ingreso de datos")))))

    write_ui("Impres2", "Forma de impresión", V(
        V(Ctl("radio", 101, ""), Ctl("radio", 102, "")),
        buttons(button(201, "&Imprimir", "Impr1|Impr2", "Proceder con impresión"),
                button(202, "&Cancelar", OK[1], "Cancela impresión"))))

    months = [Ctl("month", 120 + i) for i in range(12)]
    write_ui("CALEND2", "Calendario", V(
        frame(701, "grey", H(Ctl("bitmap", 113, name="Retrocede"), text(106, "", big=True),
                             Ctl("bitmap", 114, name="Avanza"), STRETCH, text(105, ""),
                             button(110, "Hoy"))),
        frame(702, "white", G(months[0:4], months[4:8], months[8:12])),
        buttons(button(200, "&Salir", OK[1]))))

    write_ui("Impres1", "Informe", V(
        frame(700, "black", G(
            [label("Ordenado por:"), (combo(101), 3)],
            [label("Desde:"), entry(102, chars=20), button(201, "", "Buscar1|Buscar2", "Seleccionar intervalo 1")],
            [label("Hasta:"), entry(103, chars=20), button(202, "", "Buscar1|Buscar2", "Seleccionar intervalo 2")])),
        frame(701, "white", G(
            [label("Campo:"), (combo(104), 3)],
            [label("Condición 1:"), combo(112, ["=", "==", ">", ">=", "<", "<=", "$", "<>"]), entry(105, chars=20)],
            [label("Condición 2:"), combo(113, ["=", "==", ">", ">=", "<", "<=", "$", "<>"]), entry(106, chars=20)],
            [label("Fecha inicial:"), entry(107, chars=10), button(203, "", "Calendar|Calendar2", "Seleccionar fecha inicial")],
            [label("Fecha final:"), entry(108, chars=10), button(204, "", "Calendar|Calendar2", "Seleccionar fecha final")])),
        frame(702, "white", H(Ctl("radio", 109, "Pantalla"), Ctl("radio", 110, "Impresora"),
                              Ctl("radio", 111, "Disco"), STRETCH)),
        buttons(button(413, "&Imprimir", "Impr1|Impr2", "Proceder con impresión"),
                button(401, "&Cancelar", OK[1], "Cancela impresión"))))

    write_ui("ImportaFil", "Importar filas", V(
        frame(700, "white", V(
            H(label("Tabla:"), combo(102), STRETCH),
            H(label("Fichero:"), entry(103, chars=60, readonly=True),
              button(202, "E&xaminar...", "Buscar1|Buscar2", "Elegir el fichero CSV, xlsx u ods"),
              STRETCH))),
        text(104, ""),
        grid(101, w=760, h=220),
        memo(106, h=110),
        frame(702, "white", H(
            Ctl("check", 105, "&Todo o nada: si se rechaza alguna fila, no se graba ninguna"), STRETCH,
            button(201, "&Comprobar", "OK1|OK2", "Comprobar las filas sin grabar nada"),
            button(203, "&Importar", "Graba1|Graba2", "Grabar las filas aceptadas"),
            button(205, "&Salir", "Exit1|Exit2", "Salir sin importar")))))

    write_ui("ExportaTab", "Exportar tabla", V(
        frame(700, "white", G(
            [label("Tabla:"), combo(102)],
            [label("Vendedor:"), combo(103)],
            [label("Prospecto:"), entry(104, chars=10)],
            [label("Formato:"), combo(105)])),
        text(106, ""),
        frame(702, "white", buttons(
            button(201, "&Exportar", "Graba1|Graba2", "Escribir el fichero"),
            button(205, "&Salir", "Exit1|Exit2", "Salir sin exportar")))))

    write_ui("Dlg_cgFuente", "Fuentes de informes", V(
        frame(700, "white", V(H(label("Nombre:"), entry(101, chars=12), STRETCH),
                              Ctl("radio", 102, "Incluir"), Ctl("radio", 103, "Extraer"),
                              Ctl("radio", 104, "Vaciar el almacén"), Ctl("radio", 105, "Ejecutar"),
                              Ctl("radio", 106, "Elegir del almacén"))),
        frame(701, "white", buttons(button(400, "&Aceptar", OK[0]), button(402, "&Salir", OK[1])))))


if __name__ == "__main__":
    main()
