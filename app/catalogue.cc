// The message catalogue. Entries are German, English, French, Spanish,
// Italian; bytes above 127 are ISO-8859-1, written as three-digit octal
// escapes (a hex escape would swallow the hex letters that follow it).
#include "app/catalogue.h"

#include <cstring>

#include "app/state.h"

// One entry per line, in language order.
// clang-format off

// Each name in its own language, the same whatever the interface language: the
// preferences file stores these names, and the language choices list them.
MessageText tlanguages = {
    "Deutsch",
    "English",
    "Fran\347ais",
    "Espa\361ol",
    "Italiano",
};

MessageText t_main_title = {
    "KESTRIX V%s \251 KESTRIX developers",
    "KESTRIX V%s \251 KESTRIX developers",
    "KESTRIX V%s \251 KESTRIX developers",
    "KESTRIX V%s \251 KESTRIX developers",
    "KESTRIX V%s \251 KESTRIX developers",
};

// Menu paths: "/" separates the levels, "_" marks the mnemonic letter (chosen per
// language). An item finds its branch by the path with every "_" removed.
MessageText tdatmen = {
    "/_Datei",
    "/_File",
    "/_Fichier",
    "/_Archivo",
    "/_File",
};

MessageText tdatmen1 = {
    "/Datei/_Speichern+Exportieren",
    "/File/_Save+Export",
    "/Fichier/_Sauvegarder+Exporter",
    "/Archivo/_Grabar+Exportar",
    "/_File/_Salvare+Esportare",
};

MessageText tdatmen2 = {
    "/Datei/Programm _beenden",
    "/File/_Quit",
    "/Fichier/_Terminer",
    "/Archivo/_Salir",
    "/File/_Esci",
};

MessageText tkxmen = {
    "/_KESTRIX",
    "/_KESTRIX",
    "/_KESTRIX",
    "/_KESTRIX",
    "/_KESTRIX",
};

MessageText tkxmen1 = {
    "/KESTRIX/_Text einlesen",
    "/KESTRIX/_Read Text",
    "/KESTRIX/_Extraire le texte",
    "/KESTRIX/_Extraer el texto",
    "/KESTRIX/_Estrai il testo",
};

MessageText tkxmen2 = {
    "/KESTRIX/Lesestift Speicher _l\366schen",
    "/KESTRIX/_Erase KESTRIX memory",
    "/KESTRIX/_Supprimmer la m\351moire du stylo lectuer",
    "/KESTRIX/E_liminar la memoria del estilo lector",
    "/KESTRIX/E_limina la memoria della penna lettrice",
};

MessageText tkxmen3 = {
    "/KESTRIX/Lesestift _konfigurieren",
    "/KESTRIX/_Configure KESTRIX",
    "/KESTRIX/_Configurer le stylo lectuer",
    "/KESTRIX/_Configurar el estilo lector",
    "/KESTRIX/_Configurar la penna lettrice",
};

MessageText tkxmen4 = {
    "/KESTRIX/_PC konfigurieren",
    "/KESTRIX/Configure _PC",
    "/KESTRIX/Configurer _PC",
    "/KESTRIX/Configurar _PC",
    "/KESTRIX/Configurar _PC",
};

MessageText thelpmen = {
    "/_Hilfe",
    "/_Help",
    "/_Aide",
    "/_Ayuda",
    "/_Guida",
};

MessageText thelpmen1 = {
    "/Hilfe/_Produktinformation",
    "/Help/_Info",
    "/Aide/_Info",
    "/Ayuda/_Informaci\363n",
    "/Guida/_Info",
};

MessageText t_nodata = {
    "Im KESTRIX sind keine Daten gespeichert.",
    "There are no data stored in the KESTRIX.",
    "Il n'y a aucune donn\351e sauvegard\351e dans le KESTRIX.",
    "No hay datos grabados en el KESTRIX.",
    "Non ci sono dati salvati nel KESTRIX.",
};

MessageText tnopreffile1 = {
    "Einstellungen k\366nnen nicht geladen werden:",
    "Settings can not be loaded:",
    "Impossible de charger les param\350tres :",
    "No se pueden cargar los ajustes:",
    "Impossibile caricare le impostazioni:",
};

MessageText tnopreffile2 = {
    "Start mit Standardwerten.",
    "Starting with default values.",
    "D\351marrage avec les valeurs par d\351faut.",
    "Se inicia con los valores predeterminados.",
    "Avvio con i valori predefiniti.",
};

MessageText terrorline = {
    "Fehler in Zeile",
    "Error in line",
    "Erreur \340 la ligne",
    "Error en la l\355nea",
    "Errore nella riga",
};

MessageText tnocolumn = {
    "Kein Doppelpunkt gefunden",
    "No colon found",
    "Aucun deux-points trouv\351",
    "No se encontraron los dos puntos",
    "Due punti non trovati",
};

MessageText twronglang = {
    "Sprache nicht erkannt",
    "Language not recognised",
    "Langue non reconnue",
    "Idioma no reconocido",
    "Lingua non riconosciuta",
};

MessageText twrongspeed = {
    "Falsche Geschwindigkeit",
    "Wrong Speed",
    "Vitesse incorrecte",
    "Velocidad incorrecta",
    "Velocit\340 errata",
};

MessageText tprefsaveerr = {
    "Einstellungen konnten nicht gespeichert werden",
    "Settings could not be saved",
    "Impossible de sauvegarder les param\350tres",
    "No se pudieron grabar los ajustes",
    "Impossibile salvare le impostazioni",
};

MessageText twrongkeyword = {
    "Falsches Schl\374sselwort",
    "Wrong keyword",
    "Mot-cl\351 incorrect",
    "Palabra clave incorrecta",
    "Parola chiave errata",
};

MessageText twrongformat = {
    "Unbekanntes Format",
    "Format unknown",
    "Format inconnu",
    "Formato desconocido",
    "Formato sconosciuto",
};

MessageText tpcconfig = {
    "PC-Konfiguration",
    "PC Configuration",
    "Configuration du PC",
    "Configuraci\363n del PC",
    "Configurazione del PC",
};

MessageText tpcconfiglang = {
    "Sprache",
    "Language",
    "Langue",
    "Idioma",
    "Lingua",
};

MessageText tpcconfigdevice = {
    "Schnittstelle",
    "Interface",
    "Interface",
    "Interfaz",
    "Interfaccia",
};

MessageText tpcconfigspeed = {
    "Geschwindigkeit",
    "Speed",
    "Vitesse",
    "Velocidad",
    "Velocit\340",
};

MessageText tpcconfigsep = {
    "Scan-Trennzeichen",
    "Scan-separator",
    "S\351parateur de scans",
    "Separador de escaneos",
    "Separatore di scansioni",
};

MessageText tOK = {
    "OK",
    "OK",
    "OK",
    "OK",
    "OK",
};

MessageText tCancel = {
    "Abbrechen",
    "Cancel",
    "Annuler",
    "Cancelar",
    "Annulla",
};

MessageText tYes = {
    "Ja",
    "Yes",
    "Oui",
    "S\355",
    "S\354",
};

MessageText tNo = {
    "Nein",
    "No",
    "Non",
    "No",
    "No",
};

MessageText tkxconfig = {
    "Lesestift Konfiguration",
    "KX Configuration",
    "Configuration du stylo lecteur",
    "Configuraci\363n del estilo lector",
    "Configurazione della penna lettrice",
};

MessageText tkxconfigver = {
    "Firmware-Version",
    "Firmware version",
    "Version du firmware",
    "Versi\363n del firmware",
    "Versione del firmware",
};

MessageText tkxconfigmem = {
    "Belegter Speicher",
    "Memory used",
    "M\351moire utilis\351e",
    "Memoria ocupada",
    "Memoria occupata",
};

MessageText tkxconfigbatt = {
    "Batterie",
    "Battery",
    "Batterie",
    "Bater\355a",
    "Batteria",
};

MessageText tkxconfigmenulang = {
    "Men\374sprache",
    "Menu language",
    "Langue des menus",
    "Idioma del men\372",
    "Lingua dei menu",
};

MessageText tkxconfigtextlang = {
    "Textsprache",
    "Text language",
    "Langue du texte",
    "Idioma del texto",
    "Lingua del testo",
};

MessageText tkxconfigtargetlang = {
    "Zielsprache",
    "Target language",
    "Langue cible",
    "Idioma de destino",
    "Lingua di destinazione",
};

MessageText tkxconfigmode = {
    "Modus",
    "Mode",
    "Mode",
    "Modo",
    "Modalit\340",
};

// The pen dialog tells the two modes apart by a prefix comparison with this row,
// so it must not begin the text of `tkxconfigmodetrans`.
MessageText tkxconfigmodescan = {
    "Text einlesen",
    "Read text",
    "Lire le texte",
    "Leer texto",
    "Leggere il testo",
};

MessageText tkxconfigmodetrans = {
    "\334bersetzen",
    "Translate",
    "Traduire",
    "Traducir",
    "Tradurre",
};

MessageText tkxtransexpl = {
    "    \334bertragung l\344uft...    ",
    "    Transfer in progress...    ",
    "    Transfert en cours...    ",
    "    Transferencia en curso...    ",
    "    Trasferimento in corso...    ",
};

MessageText tBytes = {
    "Zeichen",
    "Characters",
    "Caract\350res",
    "Caracteres",
    "Caratteri",
};

MessageText tScans = {
    "Scans",
    "Scans",
    "Scans",
    "Escaneos",
    "Scansioni",
};

// A sentence that runs on into the next row ends in a blank (the Italian one has
// none); each row is shown as a line of its own.
MessageText tce_connect1 = {
    "Verbindung zum KESTRIX fehlgeschlagen.",
    "Connection to KESTRIX failed.",
    "La connexion au KESTRIX a \351chou\351.",
    "Fall\363 la conexi\363n con el KESTRIX.",
    "Connessione con il KESTRIX non riuscita.",
};

MessageText tce_connect2 = {
    "Bitte \374berpr\374fen Sie die Verkabelung und stellen Sie sicher, ",
    "Please check the cabling and make sure ",
    "V\351rifier le raccordement et assurer vous ",
    "Por favor, revise la conexi\363n del cable y asegurese ",
    "Per favore controlli il cablaggio e si assicursi",
};

MessageText tce_connect3 = {
    "dass der KESTRIX eingeschaltet ist.",
    "that the KESTRIX is activated.",
    "que le KESTRIX est en position marche.",
    "de que el KESTRIX est\341 conectado.",
    "de il KESTRIX sia accesso.",
};

MessageText tce_serial1 = {
    "Zugriff auf die serielle Schnittstelle fehlgeschlagen.",
    "Access to the serial interface failed.",
    "L'acc\350s \340 l'interface s\351rie a \351chou\351.",
    "Fall\363 el acceso a la interfaz serie.",
    "Accesso all'interfaccia seriale non riuscito.",
};

MessageText tce_serial2 = {
    "Bitte stellen Sie sicher, dass Sie Schreib- und ",
    "Please make sure you have write and ",
    "Assurez-vous d'avoir les droits d'\351criture ",
    "Por favor, aseg\372rese de tener permisos de escritura ",
    "Per favore si assicuri di avere i diritti di scrittura ",
};

MessageText tce_serial3 = {
    "Leserechte besitzen.",
    "read access rights.",
    "et de lecture.",
    "y de lectura.",
    "e di lettura.",
};

MessageText tce_transfer1 = {
    "\334bertragungsfehler!",
    "Transmission error!",
    "Erreur de transmission !",
    "\241Error de transmisi\363n!",
    "Errore di trasmissione!",
};

MessageText tce_transfer2 = {
    "Bitte wiederholen Sie die \334bertragung ",
    "Retry the transfer again ",
    "Veuillez recommencer le transfert ",
    "Repita la transferencia ",
    "Ripetere il trasferimento ",
};

MessageText tce_transfer3 = {
    "mit einer niedrigeren Geschwindigkeit. ",
    "at a lower speed. ",
    "\340 une vitesse plus basse. ",
    "a una velocidad m\341s baja. ",
    "a una velocit\340 pi\371 bassa. ",
};

MessageText tnomemory = {
    "Nicht gen\374gend Speicher!",
    "Not enough memory!",
    "M\351moire insuffisante !",
    "\241Memoria insuficiente!",
    "Memoria insufficiente!",
};

MessageText tbreak = {
    "\334bertragung auf Wunsch des Benutzers abgebrochen!",
    "Transfer interrupted by user request!",
    "Transfert interrompu \340 la demande de l'utilisateur !",
    "\241Transferencia interrumpida a petici\363n del usuario!",
    "Trasferimento interrotto su richiesta dell'utente!",
};

MessageText tDeleteTextPC_title = {
    "PC-Speicher l\366schen",
    "Clear PC-memory",
    "Effacer la m\351moire du PC",
    "Borrar la memoria del PC",
    "Cancella la memoria del PC",
};

MessageText tDeleteTextPC_text = {
    "Wollen Sie den PC-Speicher wirklich l\366schen?",
    "Do you really want to clear the PC-memory?",
    "Voulez-vous vraiment effacer la m\351moire du PC ?",
    "\277Realmente desea borrar la memoria del PC?",
    "Vuole davvero cancellare la memoria del PC?",
};

// The Spanish question names replacing first; the buttons keep their meaning in
// every language (first button appends, second replaces).
MessageText tappend1 = {
    "Soll der einzulesende Text angeh\344ngt oder der ",
    "Should the additional text be attached or ",
    "Le texte suppl\351mentaire doit-il \352tre en pi\350ce jointe ",
    "\277El texto a leer ha de reemplazar al texto existente ",
    "Il testo addizionalo dovrebbe esser in appendice o ",
};

MessageText tappend2 = {
    "bestehende Text \374berschrieben werden?",
    "should the old text be overwritten?",
    "ou l'ancien texte doit-il remplac\351 ?",
    "o ha de a\361adirse al mismo?",
    "il testo vecchio dovrebbe essere sostituitto?",
};

MessageText tappend_yes = {
    "Anh\344ngen",
    "Attach",
    "Ajouter",
    "A\361adir",
    "Aggiungere",
};

MessageText tappend_no = {
    "\334berschreiben",
    "Overwrite",
    "Remplacer",
    "Remplazar",
    "Sostituire",
};

MessageText tfs_title = {
    "Text speichern",
    "Save text",
    "Sauvegarder le texte",
    "Grabar texto",
    "Salvare il testo",
};

MessageText tfs_create_dir = {
    "Neuer Ordner",
    "New folder",
    "Nouveau dossier",
    "Nueva carpeta",
    "Nuova cartella",
};

MessageText tfs_del_file = {
    "Datei l\366schen",
    "Delete file",
    "Supprimer le fichier",
    "Eliminar archivo",
    "Elimina file",
};

MessageText tfs_ren_file = {
    "Datei umbenennen",
    "Rename file",
    "Renommer le fichier",
    "Renombrar archivo",
    "Rinomina file",
};

MessageText tfs_dirs = {
    "Verzeichnisse",
    "Directories",
    "R\351pertoires",
    "Directorios",
    "Cartelle",
};

MessageText tfs_files = {
    "Dateien",
    "Files",
    "Fichiers",
    "Archivos",
    "File",
};

MessageText tfs_format = {
    "Format:",
    "Format:",
    "Format :",
    "Formato:",
    "Formato:",
};

MessageText tfs_ASCII = {
    "ASCII (ISO-8859-1)",
    "ASCII (ISO-8859-1)",
    "ASCII (ISO-8859-1)",
    "ASCII (ISO-8859-1)",
    "ASCII (ISO-8859-1)",
};

MessageText tfs_RTF = {
    "RTF",
    "RTF",
    "RTF",
    "RTF",
    "RTF",
};

MessageText tfs_LaTeX = {
    "LaTeX",
    "LaTeX",
    "LaTeX",
    "LaTeX",
    "LaTeX",
};

// Shown above the path, with `tfs_error2` below it.
MessageText tfs_error1 = {
    "Die Datei konnte nicht unter dem ",
    "File could not be saved under the ",
    "Le fichier n'a pas pu \352tre sauvegard\351 sous le ",
    "No se pudo grabar el archivo con el ",
    "Impossibile salvare il file con il ",
};

MessageText tfs_error2 = {
    "angegebenen Namen gespeichert werden.",
    "given filename.",
    "nom indiqu\351.",
    "nombre indicado.",
    "nome indicato.",
};

MessageText tfs_exists_title = {
    "Achtung!",
    "Caution!",
    "Attention !",
    "\241Atenci\363n!",
    "Attenzione!",
};

MessageText tfs_exists_s1 = {
    "Datei existiert bereits. \334berschreiben?",
    "File already exists. Overwrite?",
    "Le fichier existe d\351j\340. Le remplacer ?",
    "El archivo ya existe. \277Sobrescribirlo?",
    "Il file esiste gi\340. Sovrascriverlo?",
};

MessageText texit_title = {
    "Achtung!",
    "Caution!",
    "Attention !",
    "\241Atenci\363n!",
    "Attenzione!",
};

MessageText texit_s1 = {
    "Daten noch nicht gespeichert!",
    "Data not yet saved!",
    "Donn\351es non encore sauvegard\351es !",
    "\241Datos a\372n no grabados!",
    "Dati non ancora salvati!",
};

MessageText texit_s2 = {
    "Trotzdem beenden?",
    "Quit anyway?",
    "Quitter quand m\352me ?",
    "\277Salir de todos modos?",
    "Uscire comunque?",
};

MessageText tclear_title = {
    "Achtung!",
    "Caution!",
    "Attention !",
    "\241Atenci\363n!",
    "Attenzione!",
};

MessageText tclear_s1 = {
    "Sind Sie sicher, da\337 der Speicher des\n"
    "KESTRIXs gel\366scht werden soll?",
    "Are you sure you want to erase\n"
    "all data stored in the KESTRIX?",
    "Etes-vous s\373r de vouloir supprimer toutes les donn\351es\n"
    "sauvegard\351es dans le KESTRIX ?",
    "\277Est\341 seguro de que los datos grabados\n"
    "en el KESTRIX ha de ser borrados?",
    "Siete certi? Volete eliminare\n"
    "tutti dati salvati in KESTRIX?",
};

MessageText tclear_info = {
    "Daten werden gel\366scht...",
    "Data are being deleted...",
    "Suppression des donn\351es en cours...",
    "Borrando los datos...",
    "Eliminazione dei dati in corso...",
};

MessageText tcr_title = {
    "Produktinformation",
    "Product Information",
    "Informations sur le produit",
    "Informaci\363n del producto",
    "Informazioni sul prodotto",
};

MessageText tcr_s1 = {
    "KESTRIX f\374r Linux Version %s",
    "KESTRIX for Linux version %s",
    "KESTRIX pour Linux version %s",
    "KESTRIX para Linux versi\363n %s",
    "KESTRIX per Linux versione %s",
};

MessageText tcr_s2 = {
    "Copyright \251 2026 KESTRIX developers\n"
    "https://kestrix.example.org/",
    "Copyright \251 2026 KESTRIX developers\n"
    "https://kestrix.example.org/",
    "Copyright \251 2026 KESTRIX developers\n"
    "https://kestrix.example.org/",
    "Copyright \251 2026 KESTRIX developers\n"
    "https://kestrix.example.org/",
    "Copyright \251 2026 KESTRIX developers\n"
    "https://kestrix.example.org/",
};

MessageText tcr_s3 = {
    "Dieses Programm verwendet das GIMP Toolkit GTK+ (https://www.gtk.org/)\n"
    "und die GNU C Library glibc (https://www.gnu.org/software/libc/).",
    "This program uses the GIMP Toolkit GTK+ (https://www.gtk.org/)\n"
    "and the GNU C Library glibc (https://www.gnu.org/software/libc/).",
    "Ce programme utilise le GIMP Toolkit GTK+ (https://www.gtk.org/)\n"
    "et la biblioth\350que C GNU glibc (https://www.gnu.org/software/libc/).",
    "Este programa utiliza el GIMP Toolkit GTK+ (https://www.gtk.org/)\n"
    "y la biblioteca C de GNU glibc (https://www.gnu.org/software/libc/).",
    "Questo programma utilizza il GIMP Toolkit GTK+ (https://www.gtk.org/)\n"
    "e la libreria C GNU glibc (https://www.gnu.org/software/libc/).",
};

MessageText toption = {
    "Unbekannte Option",
    "Option unknown",
    "Option inconnue",
    "Opci\363n desconocida",
    "Opzione sconosciuta",
};

MessageText tusage1 = {
    "Kommandozeilenoptionen:",
    "Commandline options:",
    "Options de la ligne de commande :",
    "Opciones de la l\355nea de comandos:",
    "Opzioni della riga di comando:",
};

MessageText tusage2 = {
    "Dieser Text.",
    "This text.",
    "Ce texte.",
    "Este texto",
    "Questo testo.",
};

MessageText tusage3 = {
    "Stapelbetrieb: kein Fenster \366ffnen",
    "Batch mode: do not open window",
    "Mode batch : ne pas ouvrir de fen\352tre",
    "Modo por lotes: no abrir ventana",
    "Modalit\340 batch: non aprire la finestra",
};

MessageText tusage4 = {
    "Name der Schnittstelle.",
    "Interface name.",
    "Nom de l'interface.",
    "Nombre de la interfaz.",
    "Nome dell'interfaccia.",
};

MessageText tusage5 = {
    "Geschwindigkeit (z.B. 38400)",
    "Speed (e.g. 38400)",
    "Vitesse ( par example 38400 )",
    "Velocidad (por ejemplo 38400)",
    "Velocit\340 (per esempio 38400)",
};

MessageText tusage6 = {
    "Ausgabeformat (ascii, rtf, latex)",
    "Output format",
    "Format d'\351mission (ascii, rtf, latex)",
    "Formato de emisi\363n (ascii, rtf, latex)",
    "Formato di emissione (ascii, rtf, latex)",
};

MessageText tover_title = {
    "Achtung!",
    "Caution!",
    "Attention !",
    "\241Atenci\363n!",
    "Attenzione!",
};

MessageText tover_s1 = {
    "Daten noch nicht gespeichert!",
    "Data not yet saved!",
    "Donn\351es non encore sauvegard\351es !",
    "\241Datos a\372n no grabados!",
    "Dati non ancora salvati!",
};

MessageText tover_s2 = {
    "Trotzdem \374berschreiben?",
    "Overwrite anyway?",
    "Remplacer quand m\352me ?",
    "\277Sobrescribir de todos modos?",
    "Sovrascrivere comunque?",
};

// Rows added after the original table.
MessageText tpreftoolarge = {
    "Einstellungsdatei zu gro\337, nur das erste MiB wurde gelesen",
    "Settings file too large, only its first MiB was read",
    "Fichier de param\350tres trop grand, seul le premier Mio a \351t\351 lu",
    "Archivo de ajustes demasiado grande, solo se ley\363 el primer MiB",
    "File delle impostazioni troppo grande, letto solo il primo MiB",
};

// Serial device discovery and the unattended sync.
MessageText tusage7 = {
    "Gefundene serielle Schnittstellen auflisten",
    "List the serial interfaces found",
    "Lister les interfaces s\351rie trouv\351es",
    "Listar las interfaces serie encontradas",
    "Elencare le interfacce seriali trovate",
};

MessageText tusage8 = {
    "Mit -batch: KESTRIX-Speicher nach dem Export l\366schen",
    "With -batch: erase the KESTRIX memory after the export",
    "Avec -batch : supprimer la m\351moire du KESTRIX apr\350s l'exportation",
    "Con -batch: borrar la memoria del KESTRIX tras la exportaci\363n",
    "Con -batch: cancellare la memoria del KESTRIX dopo l'esportazione",
};

MessageText terase_nobatch = {
    "-erase geht nur zusammen mit -batch",
    "-erase works only together with -batch",
    "-erase ne fonctionne qu'avec -batch",
    "-erase solo funciona junto con -batch",
    "-erase funziona solo insieme a -batch",
};

MessageText terase_nofile = {
    "-erase braucht eine Datei als Standardausgabe (> Datei)",
    "-erase needs standard output redirected to a file (> file)",
    "-erase exige une sortie standard redirig\351e vers un fichier (> fichier)",
    "-erase requiere la salida est\341ndar redirigida a un archivo (> archivo)",
    "-erase richiede l'output standard rediretto su un file (> file)",
};

const CatalogueRow catalogue_rows[] = {
    {"tlanguages", &tlanguages},
    {"t_main_title", &t_main_title},
    {"tdatmen", &tdatmen},
    {"tdatmen1", &tdatmen1},
    {"tdatmen2", &tdatmen2},
    {"tkxmen", &tkxmen},
    {"tkxmen1", &tkxmen1},
    {"tkxmen2", &tkxmen2},
    {"tkxmen3", &tkxmen3},
    {"tkxmen4", &tkxmen4},
    {"thelpmen", &thelpmen},
    {"thelpmen1", &thelpmen1},
    {"t_nodata", &t_nodata},
    {"tnopreffile1", &tnopreffile1},
    {"tnopreffile2", &tnopreffile2},
    {"terrorline", &terrorline},
    {"tnocolumn", &tnocolumn},
    {"twronglang", &twronglang},
    {"twrongspeed", &twrongspeed},
    {"tprefsaveerr", &tprefsaveerr},
    {"twrongkeyword", &twrongkeyword},
    {"twrongformat", &twrongformat},
    {"tpcconfig", &tpcconfig},
    {"tpcconfiglang", &tpcconfiglang},
    {"tpcconfigdevice", &tpcconfigdevice},
    {"tpcconfigspeed", &tpcconfigspeed},
    {"tpcconfigsep", &tpcconfigsep},
    {"tOK", &tOK},
    {"tCancel", &tCancel},
    {"tYes", &tYes},
    {"tNo", &tNo},
    {"tkxconfig", &tkxconfig},
    {"tkxconfigver", &tkxconfigver},
    {"tkxconfigmem", &tkxconfigmem},
    {"tkxconfigbatt", &tkxconfigbatt},
    {"tkxconfigmenulang", &tkxconfigmenulang},
    {"tkxconfigtextlang", &tkxconfigtextlang},
    {"tkxconfigtargetlang", &tkxconfigtargetlang},
    {"tkxconfigmode", &tkxconfigmode},
    {"tkxconfigmodescan", &tkxconfigmodescan},
    {"tkxconfigmodetrans", &tkxconfigmodetrans},
    {"tkxtransexpl", &tkxtransexpl},
    {"tBytes", &tBytes},
    {"tScans", &tScans},
    {"tce_connect1", &tce_connect1},
    {"tce_connect2", &tce_connect2},
    {"tce_connect3", &tce_connect3},
    {"tce_serial1", &tce_serial1},
    {"tce_serial2", &tce_serial2},
    {"tce_serial3", &tce_serial3},
    {"tce_transfer1", &tce_transfer1},
    {"tce_transfer2", &tce_transfer2},
    {"tce_transfer3", &tce_transfer3},
    {"tnomemory", &tnomemory},
    {"tbreak", &tbreak},
    {"tDeleteTextPC_title", &tDeleteTextPC_title},
    {"tDeleteTextPC_text", &tDeleteTextPC_text},
    {"tappend1", &tappend1},
    {"tappend2", &tappend2},
    {"tappend_yes", &tappend_yes},
    {"tappend_no", &tappend_no},
    {"tfs_title", &tfs_title},
    {"tfs_create_dir", &tfs_create_dir},
    {"tfs_del_file", &tfs_del_file},
    {"tfs_ren_file", &tfs_ren_file},
    {"tfs_dirs", &tfs_dirs},
    {"tfs_files", &tfs_files},
    {"tfs_format", &tfs_format},
    {"tfs_ASCII", &tfs_ASCII},
    {"tfs_RTF", &tfs_RTF},
    {"tfs_LaTeX", &tfs_LaTeX},
    {"tfs_error1", &tfs_error1},
    {"tfs_error2", &tfs_error2},
    {"tfs_exists_title", &tfs_exists_title},
    {"tfs_exists_s1", &tfs_exists_s1},
    {"texit_title", &texit_title},
    {"texit_s1", &texit_s1},
    {"texit_s2", &texit_s2},
    {"tclear_title", &tclear_title},
    {"tclear_s1", &tclear_s1},
    {"tclear_info", &tclear_info},
    {"tcr_title", &tcr_title},
    {"tcr_s1", &tcr_s1},
    {"tcr_s2", &tcr_s2},
    {"tcr_s3", &tcr_s3},
    {"toption", &toption},
    {"tusage1", &tusage1},
    {"tusage2", &tusage2},
    {"tusage3", &tusage3},
    {"tusage4", &tusage4},
    {"tusage5", &tusage5},
    {"tusage6", &tusage6},
    {"tover_title", &tover_title},
    {"tover_s1", &tover_s1},
    {"tover_s2", &tover_s2},
    {"tpreftoolarge", &tpreftoolarge},
    {"tusage7", &tusage7},
    {"tusage8", &tusage8},
    {"terase_nobatch", &terase_nobatch},
    {"terase_nofile", &terase_nofile},
};
// clang-format on

const size_t catalogue_row_count = sizeof catalogue_rows / sizeof catalogue_rows[0];

int language_from_name(const char* name) {
    // A combo box with nothing chosen yields no text at all.
    if (name == nullptr) return LANG_DE;
    for (int i = 0; i < LANG_COUNT; i++) {
        if (strncmp(name, tlanguages[i], strlen(tlanguages[i])) == 0) return i;
    }
    return LANG_DE;
}
